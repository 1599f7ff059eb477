// The arithmetic of the action button: caption, colours of its looks and the
// molten progress fill. Portable, so the known answers are checked natively.
#pragma once

#include <string>

#include "render/colour.h"
#include "ui/ui_state.h"

namespace launcher {

// "Checking...", "Play", "Install" / "Patch", "Installing 42%" /
// "Patching 42%" (the percent as reported, "-5%" included); empty for an
// unknown phase.
std::wstring ButtonCaption(const UiState& ui);

// Top and bottom of the active button's gradient for hover glow h (clamped
// to 0..1 here) and the pressed flag (1 darkens it to 82 %).
struct ButtonFill {
  Argb top, bottom;
};
ButtonFill ActiveButtonFill(float h, int pressed);

// The hover halo is drawn only above this glow.
inline constexpr float kHaloThreshold = 0.01f;
inline Argb HaloColour(float h) { return WithAlpha(11 * h, 0xE89E4A); }
inline Argb HighlightColour(float h) { return WithAlpha(60 * h + 80, 0xFFEAB4); }
inline Argb ActiveBorderColour(float h) { return WithAlpha(70 * h + 170, 0xF0CC88); }

inline constexpr Argb kInactiveFillTop = 0xFF2C2924;
inline constexpr Argb kInactiveFillBottom = 0xFF161412;
inline constexpr Argb kInactiveBorder = 0xFF423C32;
inline constexpr Argb kInactiveCaption = 0xFF766E60;
inline constexpr Argb kPatchingCaption = 0xFFE8E2D4;
inline constexpr Argb kActiveCaption = 0xFF18120A;
inline constexpr Argb kTextShadow = 0xAA000000;
inline constexpr Argb kProgressShadeTop = 0x00000000;
inline constexpr Argb kProgressShadeBottom = 0x5A000000;
inline constexpr Argb kHeadGlowCentre = 0x6EFFC478;
inline constexpr Argb kHeadGlowEdge = 0x00FFC478;

// The part of the button the progress fill covers: percent / 100 clamped to
// 0..1.
float ProgressFraction(std::int32_t percent);

// Width of one gradient strip of the progress fill: 2 layout pixels, never
// below one client pixel.
float ProgressStripWidth(double s);

// Colour of the progress fill at offset px from the button's left edge, for
// fill width fw, button width w and animation time t: white-hot
// (255, 228, 166) at the leading edge, cooling to dark amber behind it, with
// a ripple travelling right.
struct Rgb {
  float red, green, blue;
};
Rgb HeatColor(float px, float fw, float w, double t);

// An opaque colour from float channels, each truncated, low 8 bits kept.
Argb OpaqueColour(const Rgb& c);

}  // namespace launcher
