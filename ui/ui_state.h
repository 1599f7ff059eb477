// What the window shows: one record read by the painter and changed only on
// the window thread. Portable (no <windows.h>), so the painter's arithmetic
// and the state transitions can be checked natively.
#pragma once

#include <cstdint>
#include <iosfwd>
#include <string>

namespace launcher {

// Where the launcher is. The values are fixed: previews and tests name them.
enum class Phase : std::int32_t {
  Checking = 0,  // a release check runs
  Offline = 1,   // the last check, probe or pre-play check failed
  Patch = 2,     // the release needs files (first install, new version or repair)
  Patching = 3,  // the patch worker runs
  Ready = 4,     // the installation matches the release
};
// The phases are named on their own (`Ready`, not `Phase::Ready`) all over
// the window, the painter and the previews.
using enum Phase;

// The phase's number, for test messages.
std::ostream& operator<<(std::ostream& out, Phase phase);

struct UiState {
  Phase phase = Checking;
  std::wstring installedVersion;  // empty: nothing installed
  std::wstring installSize;       // size text of the installation
  std::wstring latestVersion;     // version of the last check or applied patch
  std::wstring statusText;
  bool statusIsError = false;        // paint statusText in the error colour
  std::int32_t progressPercent = 0;  // of the running patch, as reported
  bool busy = false;                 // a check, patch or game start is in flight
  std::int32_t dpi = 96;             // the window's DPI: the system's at start, its monitor's after WM_DPICHANGED
  double animTime = 0;               // seconds of the animation clock at the last tick
  float hoverGlow = 0;               // 0..1, eased glow of the button under the pointer
};

// The action button takes clicks exactly when nothing is in flight and
// there is something to do: install/patch or play.
inline bool ButtonIsActive(const UiState& s) { return !s.busy && (s.phase == Patch || s.phase == Ready); }

}  // namespace launcher
