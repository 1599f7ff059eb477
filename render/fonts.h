// The scene's fonts: the family chosen among the installed fonts and the
// Gelasio the launcher carries, and the three fonts made of it. The carried
// font collection, the generic family and the fonts for the current DPI are
// kept in the render caches (render_caches.h).
//
// Everything here runs with GDI+ started; without a GDI+ session nothing
// is kept and the carried fonts read as missing.
#pragma once

#include "render/gdiplus_handles.h"

namespace launcher {

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

// The family ChooseFontFamily picks (chosen once: the command line and the
// carried fonts do not change while the program runs) and FontSet of it at
// `dpi`. One DPI at a time: another DPI replaces the fonts.
const Fonts& KeptFonts(int dpi);

}  // namespace launcher
