// The animation clock's step: the scene's time and the button's eased
// hover glow. Portable, so the easing is checked without a timer.
#pragma once

#include "ui/ui_state.h"

namespace launcher {

// A fading glow below this is set to exactly 0. Easing alone would only
// approach 0 and end on the smallest subnormal float; below this value the
// button already looks exactly as at 0 (its colours move by whole steps of
// at least 1/70 of the glow), so ending at 0 changes no pixel and makes a
// glow at rest plain to see.
inline constexpr float kGlowAtRest = 1.0f / 256;

// Advances `state` to `seconds` on the animation clock (seconds since its
// first tick). The glow eases toward 1 while `glowing`, else toward 0, at
// rate 14 per second; a step counts at most 0.1 s, so a long pause (a held
// title bar, a suspended machine) does not make the glow jump.
void AdvanceAnimation(UiState& state, double seconds, bool glowing);

}  // namespace launcher
