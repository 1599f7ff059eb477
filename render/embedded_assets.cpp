#include "render/embedded_assets.h"

#include <atomic>
#include <cstring>
#include <cwchar>
#include <mutex>
#include <vector>

namespace launcher {
namespace {

// The objects that live for the process. Made on first use and deliberately
// never destroyed by a static destructor: that would run after GdiplusShutdown
// and call into a stopped GDI+. ReleaseEmbeddedAssets empties them instead.
// The sprites, the font collection and the generic family are each made
// once under `made`, so two threads painting at once never both make one
// and free the other's while it draws; once made they stay until
// ReleaseEmbeddedAssets, which runs when nothing paints any more.
struct Caches {
  std::mutex made;
  BitmapHandle backdrop;
  int backdropWidth = 0;
  int backdropHeight = 0;
  bool spritesLoaded = false;
  BitmapHandle strip;
  BitmapHandle wisp;
  FontCollectionHandle gelasio;
  bool gelasioLoaded = false;
  FontFamilyHandle genericSansSerif;
};

Caches& TheCaches() {
  static Caches* const caches = new Caches;
  return *caches;
}

// A resource's bytes inside this program's image: mapped for the life of
// the process.
struct ResourceBytes {
  const void* data = nullptr;
  DWORD size = 0;
};

ResourceBytes FindRcData(WORD id) {
  HMODULE module = GetModuleHandleW(nullptr);
  HRSRC found = FindResourceW(module, MAKEINTRESOURCEW(id), MAKEINTRESOURCEW(10));  // RT_RCDATA
  if (!found) return {};
  HGLOBAL loaded = LoadResource(module, found);
  const void* data = loaded ? LockResource(loaded) : nullptr;
  if (!data) return {};
  return {data, SizeofResource(module, found)};
}

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

Caches& FontsLoaded() {
  Caches& caches = TheCaches();
  const std::lock_guard lock(caches.made);
  if (!caches.gelasio) gdip::GdipNewPrivateFontCollection(caches.gelasio.put());
  if (caches.gelasio && !caches.gelasioLoaded) {
    caches.gelasioLoaded = true;
    for (WORD id : {kGelasioRegularResource, kGelasioBoldResource}) {
      const ResourceBytes font = FindRcData(id);
      if (font.data) gdip::GdipPrivateAddMemoryFont(caches.gelasio.get(), font.data, static_cast<INT>(font.size));
    }
  }
  return caches;
}

// Gelasio from the private collection. Wine 8 fails the lookup by name in a
// private collection although the font loaded, so fall back to walking the
// collection's families (harmless where the lookup works).
FontFamilyHandle GelasioFamily() {
  Gdiplus::GpFontCollection* collection = FontsLoaded().gelasio.get();
  if (!collection) return {};
  FontFamilyHandle family;
  if (gdip::GdipCreateFontFamilyFromName(L"Gelasio", collection, family.put()) == Gdiplus::Ok && family) return family;
  family.reset();

  INT count = 0;
  if (gdip::GdipGetFontCollectionFamilyCount(collection, &count) != Gdiplus::Ok || count <= 0) return {};
  std::vector<Gdiplus::GpFontFamily*> families(static_cast<size_t>(count));
  INT found = 0;
  if (gdip::GdipGetFontCollectionFamilyList(collection, count, families.data(), &found) != Gdiplus::Ok) return {};
  for (INT i = 0; i < found && i < count; ++i) {
    WCHAR name[LF_FACESIZE] = {};
    if (gdip::GdipGetFamilyName(families[i], name, LANG_NEUTRAL) != Gdiplus::Ok) continue;
    if (std::wcscmp(name, L"Gelasio") != 0) continue;
    // The collection owns its families; the paint gets a copy of its own.
    gdip::GdipCloneFontFamily(families[i], family.put());
    return family;
  }
  return {};
}

FontFamilyHandle InstalledFamily(const wchar_t* name) {
  FontFamilyHandle family;
  if (gdip::GdipCreateFontFamilyFromName(name, nullptr, family.put()) != Gdiplus::Ok) family.reset();
  return family;
}

}  // namespace

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
  Caches& caches = TheCaches();
  if (!caches.backdrop || width != caches.backdropWidth || height != caches.backdropHeight) {
    caches.backdrop = LoadResourceBitmap(kBackdropResource, width, height);
    caches.backdropWidth = width;
    caches.backdropHeight = height;
  }
  return caches.backdrop.get();
}

Sprites EffectSprites() {
  Caches& caches = TheCaches();
  const std::lock_guard lock(caches.made);
  if (!caches.spritesLoaded) {
    caches.spritesLoaded = true;
    caches.strip = LoadResourceBitmap(kStripResource, 0, 0);
    caches.wisp = LoadResourceBitmap(kWispResource, 0, 0);
  }
  return {caches.strip.get(), caches.wisp.get()};
}

namespace {
std::atomic<bool> skipInstalledFonts{false};
}  // namespace

void SkipInstalledFonts(bool skip) { skipInstalledFonts = skip; }

FontChoice ChooseFontFamily() {
  const bool noWindowsFonts = skipInstalledFonts;
  FontChoice choice;
  if (!noWindowsFonts) choice.georgia = InstalledFamily(L"Georgia");
  choice.gelasio = GelasioFamily();
  if (!noWindowsFonts) choice.segoe = InstalledFamily(L"Segoe UI");

  for (const FontFamilyHandle* candidate : {&choice.georgia, &choice.gelasio, &choice.segoe}) {
    if (*candidate) {
      choice.family = candidate->get();
      return choice;
    }
  }
  Caches& caches = TheCaches();
  const std::lock_guard lock(caches.made);
  if (!caches.genericSansSerif) gdip::GdipGetGenericFontFamilySansSerif(caches.genericSansSerif.put());
  if (caches.genericSansSerif) gdip::GdipCloneFontFamily(caches.genericSansSerif.get(), choice.genericCopy.put());
  choice.family = choice.genericCopy.get();
  return choice;
}

Fonts FontSet(const FontChoice& choice, int dpi) {
  Fonts fonts;
  if (!choice.family) return fonts;
  const double s = dpi / 96.0;
  auto make = [&](FontHandle& font, double size, INT style) {
    gdip::GdipCreateFont(choice.family, static_cast<float>(size * s), style, Gdiplus::UnitPixel, font.put());
  };
  make(fonts.status, 13, Gdiplus::FontStyleRegular);
  make(fonts.caption, 18, Gdiplus::FontStyleBold);
  make(fonts.small, 11, Gdiplus::FontStyleRegular);
  return fonts;
}

void ReleaseEmbeddedAssets() {
  Caches& caches = TheCaches();
  const std::lock_guard lock(caches.made);
  caches.backdrop.reset();
  caches.backdropWidth = 0;
  caches.backdropHeight = 0;
  caches.strip.reset();
  caches.wisp.reset();
  caches.spritesLoaded = false;
  caches.genericSansSerif.reset();
  caches.gelasio.reset();
  caches.gelasioLoaded = false;
}

}  // namespace launcher
