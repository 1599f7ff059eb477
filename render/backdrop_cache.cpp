#include "render/backdrop_cache.h"

#include <algorithm>
#include <memory>
#include <vector>

#include "render/embedded_assets.h"
#include "render/paint_target.h"
#include "render/scene_layers.h"

namespace launcher {
namespace {

// What a kept picture depends on besides the alpha: the client size and
// the pixel format of the frame it is copied into.
struct Shape {
  int width = 0;
  int height = 0;
  bool dib = false;
  WORD bitsPerPixel = 0;
  bool operator==(const Shape&) const = default;
};

struct Picture {
  std::uint32_t alpha = 0;
  std::uint64_t lastUse = 0;
  MemoryDc dc;
  BitmapObject bitmap;
  HGDIOBJ previous = nullptr;

  Picture() = default;
  Picture(const Picture&) = delete;
  Picture& operator=(const Picture&) = delete;
  ~Picture() {
    if (previous) SelectObject(dc.get(), previous);
  }
};

// Never destroyed by a static destructor (GDI+ has stopped by then);
// ReleaseBackdropCache empties it.
struct Cache {
  Shape shape;
  std::size_t pictureBytes = 0;
  std::vector<std::unique_ptr<Picture>> pictures;
  std::uint64_t uses = 0;
};

Cache& TheCache() {
  static Cache* const cache = new Cache;
  return *cache;
}

// The frame's pixel format, read from the bitmap selected into `target`.
Shape ShapeOf(HDC target, int width, int height, DIBSECTION* section) {
  Shape shape{width, height, false, 0};
  *section = {};
  HGDIOBJ bitmap = GetCurrentObject(target, OBJ_BITMAP);
  const int size = bitmap ? GetObjectW(bitmap, sizeof(DIBSECTION), section) : 0;
  shape.dib = size == static_cast<int>(sizeof(DIBSECTION));
  shape.bitsPerPixel = size > 0 ? section->dsBm.bmBitsPixel : 0;
  return shape;
}

// A cleared bitmap like the frame's, selected into a DC of its own.
bool MakeLikeFrame(HDC target, const Shape& shape, const DIBSECTION& section, Picture& picture) {
  if (shape.dib) {
    picture.dc.reset(CreateCompatibleDC(target));
    if (!picture.dc) return false;
    BITMAPINFO info{};
    info.bmiHeader = section.dsBmih;
    info.bmiHeader.biSize = sizeof(BITMAPINFOHEADER);
    info.bmiHeader.biHeight = -shape.height;
    info.bmiHeader.biSizeImage = 0;
    if (info.bmiHeader.biCompression != BI_RGB) return false;
    void* bits = nullptr;
    picture.bitmap.reset(CreateDIBSection(picture.dc.get(), &info, DIB_RGB_COLORS, &bits, nullptr, 0));
  } else {
    picture.dc.reset(CreateCompatibleDC(target));
    if (!picture.dc) return false;
    picture.bitmap.reset(CreateCompatibleBitmap(target, shape.width, shape.height));
  }
  if (!picture.bitmap) return false;
  picture.previous = SelectObject(picture.dc.get(), picture.bitmap.get());
  if (!picture.previous) return false;
  PatBlt(picture.dc.get(), 0, 0, shape.width, shape.height, BLACKNESS);
  return true;
}

// The two layers, painted as a straightforward frame paints them.
bool PaintLayers(HDC dc, int width, int height, std::uint32_t alpha) {
  GraphicsHandle graphics;
  if (gdip::GdipCreateFromHDC(dc, graphics.put()) != Gdiplus::Ok || !graphics) return false;
  gdip::GdipSetSmoothingMode(graphics.get(), Gdiplus::SmoothingModeAntiAlias);
  gdip::GdipSetTextRenderingHint(graphics.get(), Gdiplus::TextRenderingHintClearTypeGridFit);
  PaintBackground(graphics.get(), width, height);
  PaintGroundGlow(graphics.get(), width, height, alpha);
  graphics.reset();
  GdiFlush();
  return true;
}

std::size_t Slots(std::size_t pictureBytes) {
  return std::max<std::size_t>(1, kBackdropCacheBudget / std::max<std::size_t>(pictureBytes, 1));
}

}  // namespace

bool CopyBackdropWithGlow(HDC target, int width, int height, std::uint32_t alpha) {
  if (width <= 0 || height <= 0) return false;
  // Only the picture is kept; the flat fill that stands in for a picture
  // that does not load is cheap, and the load is tried again next frame.
  if (!ScaledBackdrop(width, height)) return false;
  Cache& cache = TheCache();
  DIBSECTION section;
  const Shape shape = ShapeOf(target, width, height, &section);
  if (!(shape == cache.shape)) {
    cache.pictures.clear();
    cache.shape = shape;
    cache.pictureBytes = static_cast<std::size_t>(width) * static_cast<std::size_t>(height) *
                         std::max<std::size_t>(4, (shape.bitsPerPixel + 7) / 8);
  }
  ++cache.uses;

  auto kept = std::find_if(cache.pictures.begin(), cache.pictures.end(),
                           [alpha](const std::unique_ptr<Picture>& p) { return p->alpha == alpha; });
  if (kept == cache.pictures.end()) {
    if (cache.pictureBytes > kBackdropCacheBudget) return false;
    if (cache.pictures.size() >= Slots(cache.pictureBytes)) {
      cache.pictures.erase(std::min_element(cache.pictures.begin(), cache.pictures.end(),
                                            [](const std::unique_ptr<Picture>& a, const std::unique_ptr<Picture>& b) {
                                              return a->lastUse < b->lastUse;
                                            }));
    }
    auto picture = std::make_unique<Picture>();
    picture->alpha = alpha;
    if (!MakeLikeFrame(target, shape, section, *picture)) return false;
    if (!PaintLayers(picture->dc.get(), width, height, alpha)) return false;
    cache.pictures.push_back(std::move(picture));
    kept = cache.pictures.end() - 1;
  }
  (*kept)->lastUse = cache.uses;
  return BitBlt(target, 0, 0, width, height, (*kept)->dc.get(), 0, 0, SRCCOPY) != FALSE;
}

BackdropCacheUse BackdropCacheInUse() {
  const Cache& cache = TheCache();
  return {cache.pictureBytes * cache.pictures.size(), static_cast<int>(cache.pictures.size())};
}

void ReleaseBackdropCache() {
  Cache& cache = TheCache();
  cache.pictures.clear();
  cache.shape = Shape{};
  cache.pictureBytes = 0;
}

}  // namespace launcher
