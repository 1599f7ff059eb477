// Fails to compile when the layout that test_settings.json gives the Python
// tests (test_support/CMakeLists.txt) is not the window's own.
#include "ui/layout.h"

namespace {

struct Expected {
  int values[4];
};

constexpr bool Same(const launcher::PixelRect& rect, Expected expected) {
  return rect.left == expected.values[0] && rect.top == expected.values[1] && rect.right == expected.values[2] &&
         rect.bottom == expected.values[3];
}

constexpr Expected kClient = {{STONEWAKE_LAYOUT_CLIENT_SIZE}};
static_assert(launcher::kLayoutWidth == kClient.values[0] && launcher::kLayoutHeight == kClient.values[1],
              "STONEWAKE_LAYOUT_CLIENT_SIZE differs from ui/layout.h");
static_assert(Same(launcher::kButtonLayout, {{STONEWAKE_LAYOUT_BUTTON}}),
              "STONEWAKE_LAYOUT_BUTTON differs from ui/layout.h");
static_assert(Same(launcher::kStatusLineLayout, {{STONEWAKE_LAYOUT_STATUS_LINE}}),
              "STONEWAKE_LAYOUT_STATUS_LINE differs from ui/layout.h");

}  // namespace
