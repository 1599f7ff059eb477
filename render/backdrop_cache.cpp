#include "render/backdrop_cache.h"

#include <algorithm>
#include <memory>
#include <vector>

#include "render/paint_target.h"
#include "render/pictures.h"
#include "render/render_caches.h"
#include "render/scene_layers.h"

namespace launcher {
namespace {

// The frame's pixel format, read from the bitmap selected into `target`.
BackdropShape ShapeOf(HDC target, int width, int height, DIBSECTION* section) {
  BackdropShape shape{width, height, false, 0};
  *section = {};
  HGDIOBJ bitmap = GetCurrentObject(target, OBJ_BITMAP);
  const int size = bitmap ? GetObjectW(bitmap, sizeof(DIBSECTION), section) : 0;
  shape.dib = size == static_cast<int>(sizeof(DIBSECTION));
  shape.bitsPerPixel = size > 0 ? section->dsBm.bmBitsPixel : 0;
  return shape;
}

// A cleared bitmap like the frame's, selected into a DC of its own.
bool MakeLikeFrame(HDC target, const BackdropShape& shape, const DIBSECTION& section, BackdropPicture& picture) {
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
  picture.selection = SelectedObject(picture.dc.get(), picture.bitmap.get());
  if (!picture.selection) return false;
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
  RenderCaches* caches = ActiveRenderCaches();
  if (!caches || !ScaledBackdrop(width, height)) return false;
  BackdropPictures& cache = caches->backdrops;
  DIBSECTION section;
  const BackdropShape shape = ShapeOf(target, width, height, &section);
  if (!(shape == cache.shape)) {
    cache.pictures.clear();
    cache.shape = shape;
    cache.pictureBytes = static_cast<std::size_t>(width) * static_cast<std::size_t>(height) *
                         std::max<std::size_t>(4, (shape.bitsPerPixel + 7) / 8);
  }
  ++cache.uses;

  auto kept = std::find_if(cache.pictures.begin(), cache.pictures.end(),
                           [alpha](const std::unique_ptr<BackdropPicture>& p) { return p->alpha == alpha; });
  if (kept == cache.pictures.end()) {
    if (cache.pictureBytes > kBackdropCacheBudget) return false;
    if (cache.pictures.size() >= Slots(cache.pictureBytes)) {
      cache.pictures.erase(
          std::min_element(cache.pictures.begin(), cache.pictures.end(),
                           [](const std::unique_ptr<BackdropPicture>& a, const std::unique_ptr<BackdropPicture>& b) {
                             return a->lastUse < b->lastUse;
                           }));
    }
    auto picture = std::make_unique<BackdropPicture>();
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
  const RenderCaches* caches = ActiveRenderCaches();
  if (!caches) return {0, 0};
  const BackdropPictures& cache = caches->backdrops;
  return {cache.pictureBytes * cache.pictures.size(), static_cast<int>(cache.pictures.size())};
}

}  // namespace launcher
