#include "render/pictures.h"

#include <cstring>
#include <mutex>

#include "render/render_caches.h"

namespace launcher {
namespace {

// A stream over a copy of the bytes; the stream owns (and frees) the copy.
StreamHandle StreamOver(const ResourceBytes& bytes) {
  HGLOBAL block = GlobalAlloc(GMEM_MOVEABLE, bytes.size);
  if (!block) return {};
  void* target = GlobalLock(block);
  if (!target) {
    GlobalFree(block);
    return {};
  }
  std::memcpy(target, bytes.data, bytes.size);
  GlobalUnlock(block);
  StreamHandle stream;
  if (FAILED(CreateStreamOnHGlobal(block, TRUE, stream.put()))) {
    GlobalFree(block);
    return {};
  }
  return stream;
}

}  // namespace

ResourceBytes FindRcData(WORD id) {
  HMODULE module = GetModuleHandleW(nullptr);
  HRSRC found = FindResourceW(module, MAKEINTRESOURCEW(id), MAKEINTRESOURCEW(10));  // RT_RCDATA
  if (!found) return {};
  HGLOBAL loaded = LoadResource(module, found);
  const void* data = loaded ? LockResource(loaded) : nullptr;
  if (!data) return {};
  return {data, SizeofResource(module, found)};
}

BitmapHandle LoadResourceBitmap(WORD id, int width, int height) {
  const ResourceBytes bytes = FindRcData(id);
  if (!bytes.data) return {};
  // Declared before the picture so that it is released after it: a GDI+
  // bitmap made from a stream may read that stream until it is disposed.
  StreamHandle stream = StreamOver(bytes);
  if (!stream) return {};
  BitmapHandle source;
  if (gdip::GdipCreateBitmapFromStream(stream.get(), source.put()) != Gdiplus::Ok || !source) return {};

  if (width <= 0) {
    UINT naturalWidth = 0, naturalHeight = 0;
    gdip::GdipGetImageWidth(source.get(), &naturalWidth);
    gdip::GdipGetImageHeight(source.get(), &naturalHeight);
    width = static_cast<int>(naturalWidth);
    height = static_cast<int>(naturalHeight);
  }
  if (width <= 0 || height <= 0) return {};

  BitmapHandle result;
  if (gdip::GdipCreateBitmapFromScan0(width, height, 0, PixelFormat32bppPARGB, nullptr, result.put()) != Gdiplus::Ok)
    return {};
  GraphicsHandle graphics;
  if (gdip::GdipGetImageGraphicsContext(result.get(), graphics.put()) != Gdiplus::Ok) return {};
  gdip::GdipSetInterpolationMode(graphics.get(), Gdiplus::InterpolationModeHighQualityBicubic);
  if (gdip::GdipDrawImageRectI(graphics.get(), source.get(), 0, 0, width, height) != Gdiplus::Ok) return {};
  return result;
}

Gdiplus::GpBitmap* ScaledBackdrop(int width, int height) {
  RenderCaches* caches = ActiveRenderCaches();
  if (!caches) return nullptr;
  PictureCache& pictures = caches->pictures;
  if (!pictures.backdrop || width != pictures.backdropWidth || height != pictures.backdropHeight) {
    pictures.backdrop = LoadResourceBitmap(kBackdropResource, width, height);
    pictures.backdropWidth = width;
    pictures.backdropHeight = height;
  }
  return pictures.backdrop.get();
}

Sprites EffectSprites() {
  RenderCaches* caches = ActiveRenderCaches();
  if (!caches) return {nullptr, nullptr};
  PictureCache& pictures = caches->pictures;
  const std::lock_guard lock(pictures.made);
  if (!pictures.spritesLoaded) {
    pictures.spritesLoaded = true;
    pictures.strip = LoadResourceBitmap(kStripResource, 0, 0);
    pictures.wisp = LoadResourceBitmap(kWispResource, 0, 0);
  }
  return {pictures.strip.get(), pictures.wisp.get()};
}

}  // namespace launcher
