// The launcher's own version as players see and records keep it
// ("Launcher 2.5.1" in the window, the icon marker, the uninstall entry).
// Must agree with the version resource of the executable.
#pragma once

namespace launcher {

inline constexpr wchar_t LauncherVersionText[] = L"2.5.1";

}  // namespace launcher
