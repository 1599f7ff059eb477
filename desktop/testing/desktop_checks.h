// What the desktop tests read back as the shell and the registry hold it:
// shortcuts through IShellLinkW, the uninstall entry's values.
#pragma once

#include <string>

namespace launcher::testing {

inline constexpr wchar_t UninstallKey[] = L"Software\\Microsoft\\Windows\\CurrentVersion\\Uninstall\\Stonewake";

struct Shortcut {
  bool read = false;
  std::wstring target;
  std::wstring workingFolder;
  std::wstring iconFile;
  int iconIndex = -1;
  std::wstring description;
};

// Loads the shortcut through the shell (COM must be initialised).
Shortcut ReadShortcut(const std::wstring& path);

// "Stonewake.lnk" on this prefix's desktop and in its start menu.
std::wstring DesktopShortcut();
std::wstring ProgramsShortcut();

// Checks a shortcut that points at `launcher` in `installFolder`.
void ExpectShortcutTo(const std::wstring& shortcut, const std::wstring& launcher, const std::wstring& installFolder);

// Checks that the uninstall entry holds exactly its eight values, with
// their types and data, for `launcher` in `installFolder` and `version`.
void ExpectUninstallEntry(const std::wstring& launcher, const std::wstring& installFolder, const std::wstring& version);

bool UninstallEntryExists();

}  // namespace launcher::testing
