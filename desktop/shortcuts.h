// The launcher's shortcuts on the desktop and in the start menu, and the
// icon refresh that makes the shell show the current launcher's icons.
// Every operation here is upkeep: it reports nothing and never throws.
// The calling thread must have COM initialised as a single-threaded
// apartment.
#pragma once

#include <windows.h>

#include <shlobj.h>

#include <string>
#include <string_view>
#include <vector>

namespace launcher {

// The known folder's path, or the empty text when it cannot be resolved.
std::wstring KnownFolderPath(REFKNOWNFOLDERID folder);

// The desktop shortcut, then the start-menu programs shortcut, each
// "Stonewake.lnk". A shortcut whose known folder cannot be resolved is left
// out, so no shortcut is ever written to, or deleted from, the current
// folder.
std::vector<std::wstring> ShortcutPaths();

// Writes each shortcut of ShortcutPaths: target `target`, working folder
// `workingFolder`, icon `target` index 0, description "Stonewake". With
// `onlyExisting` only the shortcuts that exist are rewritten.
void MakeShortcuts(const std::wstring& target, const std::wstring& workingFolder, bool onlyExisting);

// Once per installation: makes both shortcuts unless "shortcuts.txt" exists
// in the install folder, then writes that marker. Shortcuts the user
// deleted therefore stay deleted.
void MakeShortcutsOnce(const std::wstring& launcherExecutable, const std::wstring& installFolder);

// Once per launcher version (marker "icons.txt" holding the version):
// rewrites the existing shortcuts and tells the shell that the launcher,
// the game, the shortcuts and every pinned taskbar shortcut changed.
void RefreshIcons(const std::wstring& launcherExecutable, const std::wstring& installFolder);

// Tells the shell that each of `paths` changed, then that file associations
// did: shortcuts and pinned icons take their picture from an executable, and
// the shell redraws them only when told.
void AnnounceChanged(const std::vector<std::wstring>& paths);

// True for an entry of the pinned-taskbar folder that is announced: its
// extension (from the last dot, a leading dot not counting) is exactly
// ".lnk", case-sensitive.
bool IsPinnedShortcutName(std::wstring_view name);

}  // namespace launcher
