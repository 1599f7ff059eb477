#include "render/effect_math.h"

#include <algorithm>
#include <cmath>

namespace launcher {
namespace {

// Where the smoke rises, in wisp units (see WispPoint).
struct WispSource {
  float x, y;
};
constexpr WispSource kSources[kSmokeSources] = {{612, 246}, {731, 412}, {395, 365}};

// The wisp unit system that the smoke and the beacon are laid out in, as a
// picture coordinate.
float WispX(float a) { return 0.458f * a - 13; }
float WispY(float b) { return 0.458f * b - 6; }

float Clamp01(float v) { return std::clamp(v, 0.0f, 1.0f); }

}  // namespace

float Hash01(std::int64_t n, int k) {
  const double v = std::sin(12.9898 * static_cast<double>(n) + 78.233 * k) * 43758.5453;
  return static_cast<float>(v - std::floor(v));
}

float Flicker(float x, float tt) {
  const float f = 0.6f + 0.2f * std::sin(5.1f * x - 0.52f * tt) + 0.16f * std::sin(9.7f * x + 0.37f * tt + 1.9f) +
                  0.1f * std::sin(17.3f * x - 0.81f * tt + 4.1f);
  return std::clamp(f, 0.22f, 1.0f);
}

float EffectTime(double t) { return static_cast<float>(std::fmod(t, 36000.0)); }

std::uint32_t GroundGlowAlpha(double t) {
  const float wave = static_cast<float>(std::sin(2 * 3.14159265 * t / 7.5));
  return AlphaOf((0.5f * wave + 0.5f) * 16 + 26);
}

Glow HearthGlow(float m, float tt) {
  const float o = 0.6f * m;
  return {{52.500004f * m, 236.30002f * m, 192 * o, 63 * o}, WithAlpha(34 * Flicker(0.5f, tt), kHearthGlowRgb)};
}

Glow BeaconGlow(float m, float tt) {
  const float q = 0.458f * m;
  const float pulse = 0.5f * std::sin(tt * 2 * 3.1415927f / 6.3f) + 0.5f;
  const float d = 20 * q;
  return {{321.798f * m - d, 184.98601f * m - d, 2 * d, 2 * d}, WithAlpha(26 * pulse + 12, kBeaconGlowRgb)};
}

StripSlice StripSliceAt(int i, float stripWidth, float stripHeight, float m, float tt) {
  const float b = stripWidth;
  const float p = std::floor(static_cast<float>(i) * b / 20);
  const float e = std::floor(static_cast<float>(i + 1) * b / 20);
  const float o = 0.6f * m;
  // The strip is laid out as if it were 172 pixels wide, whatever the picture.
  const float x1 = ((p * 172 / b + 158) * 0.6f - 36.3f) * m;
  const float x2 = ((e * 172 / b + 158) * 0.6f - 36.3f) * m;
  return {{p, 0, e - p, stripHeight}, {x1, 247.1f * m, x2 - x1, 21 * o}, Flicker((p + e) * 0.5f / b, tt)};
}

WispDraw WispAt(int k, int j, float m, float tt) {
  const WispSource& source = kSources[k];
  const std::int64_t n = 11 * j + 500 + 37 * k;
  const float life = Hash01(n, 21) * 2.5f + 8.5f;
  const float v = tt / life + static_cast<float>(j) / 9 + 0.31f * static_cast<float>(k);
  const float cycle = std::floor(v);
  const float a = v - cycle;
  const float e = life * a;

  const float x = source.x + (std::sin(Hash01(n, 22) * 6.28f + 2.7f * cycle) * 1.4f + 2.6f) * e +
                  std::sin(Hash01(n, 23) * 6.28f + 0.55f * e + static_cast<float>(k)) * (0.9f * e + 1);
  const float y = source.y - (Hash01(n, 24) * 3.5f + 13) * e;
  const float size = (Hash01(n, 25) * 0.3f + 0.85f) * (std::sqrt(a) * 52 + 9);

  const float fadeIn = std::min(a / 0.14f, 1.0f);
  const float fadeOut = std::min((1 - a) / 0.62f, 1.0f);
  const float alpha = (3 - 2 * fadeIn) * fadeIn * fadeIn * fadeOut * fadeOut * (k == 1 ? 0.22f : 0.17f);
  // The beacon's smoke is born glowing and cools to the grey of the others.
  const float heat = k == 1 ? std::max(1 - a / 0.22f, 0.0f) : 0.0f;

  const float dir = Hash01(n, 26) < 0.5f ? -1.0f : 1.0f;
  const float q = 0.458f * m;
  const float dw = size * 1.04f * q;
  const float dh = size * 1.9f * q;
  return {{WispX(x) * m - dir * dw * 0.5f, WispY(y) * m - dh * 0.5f, dir * dw, dh},
          (172 + 60 * heat) / 255,
          (164 - 24 * heat) / 255,
          (154 - 72 * heat) / 255,
          alpha};
}

SparkDraw SparkAt(int i, int width, int height, float s, double t) {
  const double life = Hash01(i, 1) * 4.0 + 5;
  const double since = Hash01(i, 2) * life + t;
  const double cycle = std::floor(since / life);
  const float age = static_cast<float>(since - cycle * life);
  // The start changes at every rebirth; the cycle number seeds it.
  const auto u = static_cast<std::int64_t>(cycle);

  const float x0 = (Hash01(31 * i + u, 3) * 0.5f + 0.5f) * static_cast<float>(width);
  const float y0 = (Hash01(17 * i + u, 4) * 0.18f + 0.86f) * static_cast<float>(height);
  const float sway =
      static_cast<float>(std::sin(Hash01(i, 7) * 6.28 + (Hash01(i, 8) * 0.7 + 0.7) * static_cast<double>(age))) * 9 * s;
  const float drift = (Hash01(i, 6) * 16 - 6) * s * age;
  const float x = sway + (drift + x0);
  const float y = y0 - (Hash01(i, 5) * 30 + 22) * s * age;

  const float u01 = age / static_cast<float>(life);
  const float f = Clamp01((1 - u01) / 0.45f) * std::min(u01 / 0.18f, 1.0f);
  const float strength = (3 - 2 * f) * f * f;
  const float radius = (Hash01(i, 9) * 1.1f + 1.1f) * s;
  return {x, y, radius, AlphaOf(46 * strength), AlphaOf(210 * strength)};
}

}  // namespace launcher
