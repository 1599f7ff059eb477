// The arithmetic of the animated effects: every glow, strip slice, wisp and
// spark is a pure function of the animation time, the client size and the
// DPI scale, computed afresh each frame from fixed seeds. Portable, so the
// known answers are checked natively.
#pragma once

#include <cstdint>

#include "render/colour.h"

namespace launcher {

// fract(sin(12.9898 n + 78.233 k) * 43758.5453) in double precision, rounded
// to single: a repeatable pseudo-random value in [0, 1) for seed n and
// channel k.
float Hash01(std::int64_t n, int k);

// The molten strip's brightness at x (0..1 across the strip) and effect
// time tt, within 0.22..1.
float Flicker(float x, float tt);

// The effect time: t modulo 36000 s, so single precision stays fine-grained
// (the effects repeat every 10 hours).
float EffectTime(double t);

// Alpha of the ground glow's bottom colour: 26..42, period 7.5 s.
std::uint32_t GroundGlowAlpha(double t);

// Picture scale m: client pixels per background-picture pixel.
inline float PictureScale(int clientWidth) { return static_cast<float>(clientWidth) / 1120.0f; }

// A rectangle in client pixels, single precision.
struct RectF32 {
  float x, y, width, height;
};

// A radial glow: the ellipse in `box`, `centre` colour fading to its own
// colour with alpha 0 at the rim.
struct Glow {
  RectF32 box;
  Argb centre;
};

Glow HearthGlow(float m, float tt);
Glow BeaconGlow(float m, float tt);

// One of the 20 slices of the molten strip: the source columns of the strip
// picture, where they go, and the flicker that tints them.
struct StripSlice {
  RectF32 source;
  RectF32 destination;
  float flicker;
};
inline constexpr int kStripSlices = 20;
StripSlice StripSliceAt(int i, float stripWidth, float stripHeight, float m, float tt);

// One smoke wisp of source k (0..2), wisp j (0..8): destination rectangle
// (a negative width draws it mirrored) and the colour matrix's diagonal.
struct WispDraw {
  RectF32 destination;
  float red, green, blue, alpha;
};
inline constexpr int kSmokeSources = 3;
inline constexpr int kWispsPerSource = 9;
WispDraw WispAt(int k, int j, float m, float tt);

// One spark i (0..25): its centre, core radius and the two alphas.
struct SparkDraw {
  float x, y, radius;
  std::uint32_t glowAlpha, coreAlpha;
};
inline constexpr int kSparks = 26;
SparkDraw SparkAt(int i, int width, int height, float s, double t);

inline constexpr std::uint32_t kHearthGlowRgb = 0xE86216;
inline constexpr std::uint32_t kBeaconGlowRgb = 0xFF5C12;
inline constexpr std::uint32_t kSparkGlowRgb = 0xFF842C;
inline constexpr std::uint32_t kSparkCoreRgb = 0xFFB05C;

}  // namespace launcher
