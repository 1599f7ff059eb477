#include "ui/pointer.h"

#include "ui/layout.h"

namespace launcher {

int HitTest(int x, int y, int dpi) {
  const PixelRect button = ButtonRect(dpi);
  return x >= button.left && x < button.right && y >= button.top && y < button.bottom ? ButtonTarget : NoTarget;
}

PointerResult PointerMoved(PointerState& pointer, int hit, const UiState& state) {
  PointerResult result;
  if (hit != pointer.hoverTarget) {
    pointer.hoverTarget = hit;
    result.repaint = true;
  }
  result.handCursor = hit == ButtonTarget && ButtonIsActive(state);
  if (!pointer.trackingLeave) {
    pointer.trackingLeave = true;
    result.trackLeave = true;
  }
  return result;
}

PointerResult PointerPressed(PointerState& pointer, int hit, const UiState& state) {
  PointerResult result;
  if (hit == NoTarget || !ButtonIsActive(state)) return result;
  pointer.pressedTarget = hit;
  result.capture = true;
  result.repaint = true;
  return result;
}

PointerResult PointerReleased(PointerState& pointer, int hit) {
  PointerResult result;
  const int pressed = pointer.pressedTarget;
  pointer.pressedTarget = NoTarget;
  result.repaint = true;
  result.click = pressed == ButtonTarget && hit == pressed;
  return result;
}

PointerResult PointerLeft(PointerState& pointer) {
  PointerResult result;
  pointer.trackingLeave = false;
  if (pointer.hoverTarget != NoTarget || pointer.pressedTarget != NoTarget) {
    pointer.hoverTarget = NoTarget;
    pointer.pressedTarget = NoTarget;
    result.repaint = true;
  }
  return result;
}

PointerResult CaptureLost(PointerState& pointer) {
  PointerResult result;
  if (pointer.pressedTarget != NoTarget) {
    pointer.pressedTarget = NoTarget;
    result.repaint = true;
  }
  return result;
}

bool ShowsHandCursor(const PointerState& pointer, const UiState& state) {
  return pointer.hoverTarget == ButtonTarget && ButtonIsActive(state);
}

}  // namespace launcher
