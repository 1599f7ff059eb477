// The action button's rectangle, shared by the painter and the window's hit
// test so that what is drawn is exactly what takes the click. Portable (no
// <windows.h>).
#pragma once

#include <cstdint>

namespace launcher {

// Client pixels; right and bottom are exclusive, as in a Windows RECT.
struct PixelRect {
  std::int32_t left, top, right, bottom;
};

// The button of the 560 x 340 layout (28, 258)-(532, 308) scaled by
// dpi / 96, each edge rounded half away from zero: at 96 DPI (28, 258) to
// (532, 308), at 144 DPI (42, 387) to (798, 462).
PixelRect ButtonRect(int dpi);

}  // namespace launcher
