// Everything the painter keeps between paints, in one object: the carried
// pictures and fonts, the text objects, the backdrop with its ground glow,
// and the thread that prepares the first paint. The GDI+ session owns it
// (gdiplus_session.h): made once GDI+ has started and destroyed before GDI+
// stops, so no kept GDI+ object outlives GDI+. A static destructor would
// run after GdiplusShutdown and call into a stopped GDI+.
//
// The members are destroyed bottom up: the preparing thread is joined
// before anything it fills goes, the fonts go before the family and the
// collection they were made from.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <mutex>
#include <thread>
#include <utility>
#include <vector>

#include "files/system_handles.h"
#include "render/fonts.h"
#include "render/gdiplus_handles.h"
#include "render/paint_target.h"

namespace launcher {

// The pictures of pictures.h. The sprites are made once under `made`, so
// two threads painting at once never both make them and free the other's
// while it draws.
struct PictureCache {
  std::mutex made;
  bool spritesLoaded = false;
  BitmapHandle strip;
  BitmapHandle wisp;
  BitmapHandle backdrop;
  int backdropWidth = 0;
  int backdropHeight = 0;
};

// The fonts of fonts.h. The carried collection and the generic family are
// made once under `made`, for the same reason as the sprites.
struct FontCache {
  std::mutex made;
  FontCollectionHandle gelasio;
  bool gelasioLoaded = false;
  FontFamilyHandle genericSansSerif;
  bool familyChosen = false;
  FontChoice family;
  int fontsDpi = 0;
  Fonts fonts;
};

// The text objects of kept_objects.h.
struct KeptBrush {
  Gdiplus::ARGB colour;
  BrushHandle brush;
};
struct TextObjectCache {
  StringFormatHandle formats[3];  // near, center, far
  std::vector<KeptBrush> brushes;
};

// The pictures of backdrop_cache.h: each a bitmap like the frame's,
// selected into a DC of its own.
struct BackdropPicture {
  std::uint32_t alpha = 0;
  std::uint64_t lastUse = 0;
  MemoryDc dc;
  BitmapObject bitmap;
  SelectedObject selection;  // after the bitmap: deselects it before it is deleted
};
struct BackdropShape {
  int width = 0;
  int height = 0;
  bool dib = false;
  WORD bitsPerPixel = 0;
  bool operator==(const BackdropShape&) const = default;
};
struct BackdropPictures {
  BackdropShape shape;
  std::size_t pictureBytes = 0;
  std::vector<std::unique_ptr<BackdropPicture>> pictures;
  std::uint64_t uses = 0;
};

// The thread of PrepareFirstPaint (scene.h), joined by the first paint, by
// a release of the caches and at the latest by this object's end.
class Preparation {
 public:
  Preparation() = default;
  ~Preparation() { Finish(); }
  Preparation(const Preparation&) = delete;
  Preparation& operator=(const Preparation&) = delete;

  // Starts `work` on a thread unless one runs that nothing waited for yet.
  // Throws std::system_error when the system refuses a thread.
  template <typename Work>
  void Start(Work work) {
    const std::lock_guard hold(lock_);
    if (!thread_.joinable()) thread_ = std::thread(std::move(work));
  }

  // Waits for the thread, if one runs.
  void Finish() {
    const std::lock_guard hold(lock_);
    if (thread_.joinable()) thread_.join();
  }

 private:
  std::mutex lock_;
  std::thread thread_;
};

struct RenderCaches {
  PictureCache pictures;
  FontCache fonts;
  TextObjectCache text;
  BackdropPictures backdrops;
  Preparation preparation;  // last, so that it is joined first
};

// The caches of the GDI+ session that runs; null while none runs (nothing
// is kept then). Set and cleared by GdiplusSession alone.
RenderCaches* ActiveRenderCaches();

}  // namespace launcher
