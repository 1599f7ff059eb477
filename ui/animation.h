// The animation clock's step: the scene's time and the button's eased
// hover glow. Portable, so the easing is checked without a timer.
#pragma once

#include "ui/ui_state.h"

namespace launcher {

// Advances `state` to `seconds` on the animation clock (seconds since its
// first tick). The glow eases toward 1 while `glowing`, else toward 0, at
// rate 14 per second; a step counts at most 0.1 s, so a long pause (a held
// title bar, a suspended machine) does not make the glow jump.
void AdvanceAnimation(UiState& state, double seconds, bool glowing);

}  // namespace launcher
