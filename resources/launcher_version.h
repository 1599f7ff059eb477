// The launcher's own version as players see and records keep it
// ("Launcher 2.5.1" in the window, the icon marker, the uninstall entry).
//
// The text comes from the build's launcher version setting
// (STONEWAKE_LAUNCHER_VERSION, default 2.5.1), the same setting that writes
// the executable's version resource, so the two always agree. It is defined
// in a file the build generates rather than here, so that a launcher built
// with another version differs by that one object and its resource script.
#pragma once

namespace launcher {

extern const wchar_t LauncherVersionText[];

}  // namespace launcher
