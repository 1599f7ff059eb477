#include "render/button_look.h"

#include <algorithm>
#include <cmath>

namespace launcher {
namespace {

std::uint32_t LowByte(float value) { return AlphaOf(value); }

// One channel of the active gradient: a * c + b rounded half away from zero,
// low 8 bits, darkened by k and truncated.
std::uint32_t FillChannel(float a, float b, float c, float k) {
  const auto rounded = static_cast<std::uint32_t>(std::lround(a * c + b)) & 0xFFu;
  return LowByte(static_cast<float>(rounded) * k);
}

Argb FillColour(const float (&a)[3], const float (&b)[3], float c, float k) {
  return 0xFF000000u | FillChannel(a[0], b[0], c, k) << 16 | FillChannel(a[1], b[1], c, k) << 8 |
         FillChannel(a[2], b[2], c, k);
}

}  // namespace

std::wstring ButtonCaption(const UiState& ui) {
  switch (ui.phase) {
    case Checking:
      return L"Checking...";
    case Offline:
    case Ready:
      return L"Play";
    case Patch:
      return ui.installedVersion.empty() ? L"Install" : L"Patch";
    case Patching:
      return (ui.installedVersion.empty() ? L"Installing " : L"Patching ") + std::to_wstring(ui.progressPercent) + L"%";
    default:
      return {};
  }
}

ButtonFill ActiveButtonFill(float h, int pressed) {
  const float k = pressed == 1 ? 0.82f : 1.0f;
  const float c = std::clamp(h, 0.0f, 1.0f);
  return {FillColour({26, 28, 24}, {214, 162, 86}, c, k), FillColour({30, 22, 12}, {138, 96, 44}, c, k)};
}

float ProgressFraction(std::int32_t percent) { return std::clamp(static_cast<float>(percent) / 100.0f, 0.0f, 1.0f); }

float ProgressStripWidth(double s) { return std::max(2 * static_cast<float>(s), 1.0f); }

Rgb HeatColor(float px, float fw, float w, double t) {
  const float dist = std::max(fw - px, 0.0f);
  const float e1 = std::exp(-dist / std::max(0.34f * w, 1.0f));
  const auto wave = static_cast<float>(std::sin(static_cast<double>(0.045f * px) - 1.1 * t));
  const float heat = std::clamp(e1 * (0.08f * wave + 1), 0.0f, 1.0f);
  const float e2 = std::exp(-dist / (0.018f * w + 1));
  const Rgb base{96 + 118 * heat, 72 + 88 * heat, 40 + 42 * heat};
  return {base.red + (255 - base.red) * e2, base.green + (228 - base.green) * e2, base.blue + (166 - base.blue) * e2};
}

Argb OpaqueColour(const Rgb& c) { return 0xFF000000u | LowByte(c.red) << 16 | LowByte(c.green) << 8 | LowByte(c.blue); }

}  // namespace launcher
