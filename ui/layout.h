// The window's geometry, shared by the window, the painter and the preview:
// the client size and the action button's rectangle, so that what is drawn
// is exactly what takes the click. Portable (no <windows.h>).
#pragma once

#include <cstdint>

namespace launcher {

// Client size at 96 DPI, in layout units; at another DPI each is scaled by
// dpi / 96 (840 x 510 at 144 DPI).
inline constexpr int kLayoutWidth = 560;
inline constexpr int kLayoutHeight = 340;

// A rectangle in client pixels, or in layout units where said; right and
// bottom are exclusive, as in a Windows RECT.
struct PixelRect {
  std::int32_t left, top, right, bottom;
};

// Where the action button and the status line above it sit in the
// 560 x 340 layout (layout units).
inline constexpr PixelRect kButtonLayout = {28, 258, 532, 308};
inline constexpr PixelRect kStatusLineLayout = {28, 232, 532, 254};

// The button of the 560 x 340 layout (kButtonLayout) scaled by
// dpi / 96, each edge rounded half away from zero: at 96 DPI (28, 258) to
// (532, 308), at 144 DPI (42, 387) to (798, 462).
PixelRect ButtonRect(int dpi);

}  // namespace launcher
