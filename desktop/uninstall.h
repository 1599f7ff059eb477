// The launcher's entry among the user's installed programs, and its removal
// with "--uninstall".
#pragma once

#include <optional>
#include <string>

namespace launcher {

// Creates or refreshes the per-user uninstall entry (HKEY_CURRENT_USER,
// "Software\Microsoft\Windows\CurrentVersion\Uninstall\Stonewake") with
// its eight values (display name,
// icon, version, publisher, install location, the quoted uninstall command,
// no modify, no repair). Upkeep: reports nothing and never throws.
void WriteUninstallEntry(const std::wstring& launcherExecutable, const std::wstring& installFolder);

// The parameters for "cmd.exe" that wait two seconds and then remove
// `installFolder` with everything in it. None when the folder is not a full
// path (a relative one would be resolved against cmd's own working folder)
// or holds a '%', which cmd would expand even inside quotes.
std::optional<std::wstring> RemovalParameters(const std::wstring& installFolder);

// The "--uninstall" mode. When a windowed launcher runs, removes nothing and
// brings its window to the front instead, so a patch in progress never
// loses its folder. Otherwise asks "Remove Stonewake from this PC?"; on Yes
// deletes the shortcuts, the uninstall entry and the game folder, and
// starts a hidden cmd.exe that removes the install folder once this process
// has ended. Always returns 0.
int Uninstall(const std::wstring& installFolder);

}  // namespace launcher
