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

// How "cmd.exe" removes the install folder once the launcher has ended: the
// parameters that wait two seconds and then remove it with everything in
// it, and the folder cmd runs in.
struct RemovalCommand {
  std::wstring parameters;
  std::wstring workingFolder;
};

// The command for `installFolder`, cmd.exe being in `systemFolder`. cmd runs
// in the system folder and names the install folder by its full path; when
// the path holds a '%' (legal in a Windows user name, yet expanded by cmd
// even inside quotes) it runs in the install folder's parent and names it by
// its own name. None when no command can be trusted with the folder: not a
// full path (a relative one would be resolved against cmd's own folder), a
// quote or a control character in it, a '%' in its own name or one under a
// network share (cmd cannot run in one), or no system folder. cmd runs
// without the user's AutoRun command ("/d"), which could change its folder.
std::optional<RemovalCommand> PlanRemoval(const std::wstring& installFolder, const std::wstring& systemFolder);

// The "--uninstall" mode. Decides before it changes anything:
// - while a windowed launcher runs (a patch may be in progress) it removes
//   nothing, says "Stonewake is open. Close it, then remove it again." and
//   brings that window to the front; returns 1;
// - when no removal command can be trusted with the install folder, it
//   removes nothing and says why; returns 1;
// - otherwise it asks "Remove Stonewake from this PC?"; No returns 0 with
//   nothing changed; Yes deletes the shortcuts, the uninstall entry and the
//   game folder and starts a hidden cmd.exe that removes the install folder
//   once this process has ended; returns 0, or 1 when cmd could not start.
//   A launcher started while the question was open is met after Yes as
//   before it: nothing removed, the same box, its window to the front, 1.
int Uninstall(const std::wstring& installFolder);

}  // namespace launcher
