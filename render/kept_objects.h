// The text objects the scene keeps between paints: the fonts for one DPI,
// the string format of each alignment and the solid brushes of its text
// colours. Each is made exactly as a straightforward paint makes it, so a
// kept object draws the same pixels as a fresh one.
//
// Runs on the painting thread with GDI+ started; ReleaseKeptObjects empties
// it before GDI+ stops.
#pragma once

#include "render/embedded_assets.h"
#include "render/gdiplus_handles.h"

namespace launcher {

// The family ChooseFontFamily picks (chosen once: the command line and the
// carried fonts do not change while the program runs) and FontSet of it at
// `dpi`. One DPI at a time: another DPI replaces the fonts.
const Fonts& KeptFonts(int dpi);

// The format DrawTextLine lays a line out with, for `alignment`; null when
// GDI+ refuses it.
Gdiplus::GpStringFormat* KeptLineFormat(Gdiplus::StringAlignment alignment);

// A solid brush of `colour`. At most kKeptBrushes colours are kept; one
// more lets go of them all first.
inline constexpr int kKeptBrushes = 16;
Gdiplus::GpBrush* KeptSolidBrush(Gdiplus::ARGB colour);

// A new string format laid out as every text line of the scene is: the
// alignment given, vertically centred, never wrapped, cut with an ellipsis.
StringFormatHandle LineFormat(Gdiplus::StringAlignment alignment);

// Lets go of the fonts, family, formats and brushes.
void ReleaseKeptObjects();

}  // namespace launcher
