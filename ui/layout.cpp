#include "ui/layout.h"

#include <cmath>

namespace launcher {

PixelRect ButtonRect(int dpi) {
  const double s = dpi / 96.0;
  // lround rounds halves away from zero, so 258 * 1.25 = 322.5 gives 323.
  auto edge = [s](double v) { return static_cast<std::int32_t>(std::lround(v * s)); };
  return {edge(kButtonLayout.left), edge(kButtonLayout.top), edge(kButtonLayout.right), edge(kButtonLayout.bottom)};
}

}  // namespace launcher
