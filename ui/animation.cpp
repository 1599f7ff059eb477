#include "ui/animation.h"

namespace launcher {

void AdvanceAnimation(UiState& state, double seconds, bool glowing) {
  double dt = seconds - state.animTime;
  state.animTime = seconds;
  if (dt > 0.1) dt = 0.1;
  const float target = glowing ? 1.0f : 0.0f;
  float k = static_cast<float>(dt) * 14.0f;
  if (k > 1.0f) k = 1.0f;
  state.hoverGlow = state.hoverGlow + k * (target - state.hoverGlow);
  if (!glowing && state.hoverGlow < kGlowAtRest) state.hoverGlow = 0.0f;
}

}  // namespace launcher
