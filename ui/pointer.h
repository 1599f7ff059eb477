// The pointer on the action button: hit testing, hover, press, release and
// the ways a press ends without a click. Portable: the window procedure
// feeds it what the messages say and does what the result asks, so every
// path a player's mouse can take runs in native tests.
#pragma once

#include <cstdint>

#include "ui/ui_state.h"

namespace launcher {

// Hit ids: what lies under the pointer.
inline constexpr int NoTarget = 0;
inline constexpr int ButtonTarget = 1;

// The hit id at client pixel (x, y) for the DPI. Positions left of or above
// the window are negative (a captured pointer reports them) and hit nothing.
int HitTest(int x, int y, int dpi);

struct PointerState {
  int hoverTarget = NoTarget;
  int pressedTarget = NoTarget;  // where the left button went down and is held
  bool trackingLeave = false;    // a leave notification is asked for and not yet in
};

// What the window is to do after a pointer event.
struct PointerResult {
  bool repaint = false;
  bool capture = false;     // take the mouse capture (a press started)
  bool trackLeave = false;  // ask for a leave notification
  bool handCursor = false;  // moves only: the hand, else the arrow
  bool click = false;       // a release completed a click on the button
};

// The pointer moved to hit id `hit`.
PointerResult PointerMoved(PointerState& pointer, int hit, const UiState& state);
// The left button went down over `hit`; only an active button takes it.
PointerResult PointerPressed(PointerState& pointer, int hit, const UiState& state);
// The left button came up over `hit`. A click needs the press and the
// release on the button; whether it does anything is the click's own rule.
PointerResult PointerReleased(PointerState& pointer, int hit);
// The pointer left the window: hover and press both end.
PointerResult PointerLeft(PointerState& pointer);
// The capture went elsewhere (another window, a menu, a message box): the
// press ends, so a later release is no click.
PointerResult CaptureLost(PointerState& pointer);

// The hand cursor shows while the pointer rests on an active button.
bool ShowsHandCursor(const PointerState& pointer, const UiState& state);

}  // namespace launcher
