#include "render/fonts.h"

#include <atomic>
#include <cwchar>
#include <mutex>
#include <vector>

#include "render/pictures.h"
#include "render/render_caches.h"

namespace launcher {
namespace {

std::atomic<bool> skipInstalledFonts{false};

// The carried fonts in a private collection, loaded once per set of caches.
Gdiplus::GpFontCollection* CarriedFonts(FontCache& fonts) {
  const std::lock_guard lock(fonts.made);
  if (!fonts.gelasio) gdip::GdipNewPrivateFontCollection(fonts.gelasio.put());
  if (fonts.gelasio && !fonts.gelasioLoaded) {
    fonts.gelasioLoaded = true;
    for (WORD id : {kGelasioRegularResource, kGelasioBoldResource}) {
      const ResourceBytes font = FindRcData(id);
      if (font.data) gdip::GdipPrivateAddMemoryFont(fonts.gelasio.get(), font.data, static_cast<INT>(font.size));
    }
  }
  return fonts.gelasio.get();
}

// Gelasio from the private collection. Wine 8 fails the lookup by name in a
// private collection although the font loaded, so fall back to walking the
// collection's families (harmless where the lookup works).
FontFamilyHandle GelasioFamily() {
  RenderCaches* caches = ActiveRenderCaches();
  if (!caches) return {};
  Gdiplus::GpFontCollection* collection = CarriedFonts(caches->fonts);
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
  RenderCaches* caches = ActiveRenderCaches();
  if (!caches) return choice;
  FontCache& fonts = caches->fonts;
  const std::lock_guard lock(fonts.made);
  if (!fonts.genericSansSerif) gdip::GdipGetGenericFontFamilySansSerif(fonts.genericSansSerif.put());
  if (fonts.genericSansSerif) gdip::GdipCloneFontFamily(fonts.genericSansSerif.get(), choice.genericCopy.put());
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

const Fonts& KeptFonts(int dpi) {
  RenderCaches* caches = ActiveRenderCaches();
  if (!caches) {
    // Nothing can be kept without a session: no fonts, so no text.
    static const Fonts none;
    return none;
  }
  FontCache& kept = caches->fonts;
  if (!kept.familyChosen) {
    kept.family = ChooseFontFamily();
    kept.familyChosen = true;
  }
  if (kept.fontsDpi != dpi) {
    kept.fonts = FontSet(kept.family, dpi);
    kept.fontsDpi = dpi;
  }
  return kept.fonts;
}

}  // namespace launcher
