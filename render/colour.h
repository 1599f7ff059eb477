// Colour arithmetic shared by every layer of the scene. Portable.
#pragma once

#include <cstdint>

namespace launcher {

// 0xAARRGGBB, as GDI+ takes it.
using Argb = std::uint32_t;

// The alpha byte of a formula's value: truncated toward zero, low 8 bits
// kept. A value that is not a number or lies outside 32 bits gives 0 rather
// than undefined behaviour.
inline std::uint32_t AlphaOf(float value) {
  if (!(value > -2147483648.0f && value < 2147483648.0f)) return 0;
  return static_cast<std::uint32_t>(static_cast<std::int32_t>(value)) & 0xFFu;
}

// `rgb` (0xRRGGBB) with the alpha of a formula's value.
inline Argb WithAlpha(float alpha, std::uint32_t rgb) { return (AlphaOf(alpha) << 24) | (rgb & 0xFFFFFFu); }

// A layout value (pixels at 96 DPI) in client pixels for the scale s = dpi / 96.
inline float Scaled(double value, double s) { return static_cast<float>(value * s); }

}  // namespace launcher
