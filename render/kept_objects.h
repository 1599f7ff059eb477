// The text objects the scene keeps between paints: the string format of
// each alignment and the solid brushes of its text colours, kept in the
// render caches (render_caches.h). Each is made exactly as a straightforward
// paint makes it, so a kept object draws the same pixels as a fresh one.
//
// Runs on the painting thread with GDI+ started; without a GDI+ session
// nothing is kept and these return null.
#pragma once

#include "render/gdiplus_handles.h"

namespace launcher {

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

}  // namespace launcher
