// The pictures and fonts the launcher carries as resources, turned into
// GDI+ objects. Decoding and resampling happen once (per client size for
// the background); FontSet makes fonts, which the scene keeps per DPI
// (kept_objects.h).
//
// Everything here runs on the painting thread with GDI+ started. The
// process-wide objects are released by ReleaseRenderCaches, which the
// program calls before it shuts GDI+ down.
#pragma once

#include "render/gdiplus_handles.h"
#include "resources/resource_ids.h"

namespace launcher {

// Resource ids (RT_RCDATA) of what the painter loads.
inline constexpr WORD kBackdropResource = STONEWAKE_BACKDROP_RESOURCE;
inline constexpr WORD kStripResource = STONEWAKE_STRIP_RESOURCE;
inline constexpr WORD kWispResource = STONEWAKE_WISP_RESOURCE;
inline constexpr WORD kGelasioRegularResource = STONEWAKE_GELASIO_REGULAR_RESOURCE;
inline constexpr WORD kGelasioBoldResource = STONEWAKE_GELASIO_BOLD_RESOURCE;

// Resource `id` of this program decoded and drawn into a premultiplied ARGB
// bitmap of width x height (its natural size when width <= 0, whatever the
// height). Empty when the resource is missing or does not decode.
BitmapHandle LoadResourceBitmap(WORD id, int width, int height);

// The background picture at the client size. One slot: another size
// replaces it. Borrowed; null when it cannot be loaded (tried again next
// time).
Gdiplus::GpBitmap* ScaledBackdrop(int width, int height);

// The molten strip and the smoke wisp at their natural size, loaded once;
// either may be null for good.
struct Sprites {
  Gdiplus::GpBitmap* strip;
  Gdiplus::GpBitmap* wisp;
};
Sprites EffectSprites();

// The font family of one paint: Georgia, else Gelasio (carried inside the
// program), else Segoe UI, else a copy of the generic sans-serif family.
// After SkipInstalledFonts(true) the installed Georgia and Segoe UI are
// skipped. Owns every candidate it made.
struct FontChoice {
  FontFamilyHandle georgia;
  FontFamilyHandle gelasio;
  FontFamilyHandle segoe;
  FontFamilyHandle genericCopy;
  Gdiplus::GpFontFamily* family = nullptr;  // one of the above, or null
};
FontChoice ChooseFontFamily();

// Whether ChooseFontFamily passes over the fonts installed on the machine
// (the launcher's "--no-windows-fonts"); set at start, before any paint.
void SkipInstalledFonts(bool skip);

// The three fonts of the scene, in pixels at the DPI.
struct Fonts {
  FontHandle status;   // 13 px regular: status line
  FontHandle caption;  // 18 px bold: button caption
  FontHandle small;    // 11 px regular: version lines
};
Fonts FontSet(const FontChoice& choice, int dpi);

// Releases the backdrop, the sprites, the private font collection and the
// generic family. Call before GdiplusShutdown; painting afterwards (with
// GDI+ running) loads them again.
void ReleaseEmbeddedAssets();

}  // namespace launcher
