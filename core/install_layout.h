// The names of the install folder's layout, shared by the launcher, the
// publisher and the tests:
//
//   Stonewake Launcher.exe   the installed launcher (a manifest path too)
//   game\                    the game's files ("game/<path>" in a manifest)
//   game\Stonewake.exe       the program Play starts
//   installed.txt            the installed release's version
//   shortcuts.txt            the shortcuts were made once
//   icons.txt                the launcher version whose icons the shell knows
//   Stonewake Launcher.old   the previous launcher, parked for moments
//                            while a new one replaces it
//   <name>.partial           a download that is not yet verified
//   partials.txt             which object each resumable ".partial" begins
//   verified.txt             what the launcher last hashed or verified of
//                            each installed file, and the file's stamp then
//   game\...\imgui.ini       the game's window layout, written by the game
//                            and owned by no release
//   Stonewake Launcher.exe.installing
//                            a copy of a launcher started from elsewhere,
//                            for moments, before it is renamed into place
#pragma once

#include <string_view>

namespace launcher {

// The launcher's own file name. As a manifest path it names the launcher
// executable at the top of the install folder; every comparison with it is
// byte-exact and case-sensitive. The one name here without the k of the
// other constants: the engine's shared records know it by this name.
inline constexpr std::string_view LauncherFileName = "Stonewake Launcher.exe";
inline constexpr std::wstring_view LauncherFileNameWide = L"Stonewake Launcher.exe";

// The game's folder, and the prefix of every manifest path inside it.
inline constexpr std::wstring_view kGameFolderName = L"game";
inline constexpr std::string_view kGamePathPrefix = "game/";

// The game's program as a file name inside the game folder and as a
// manifest path.
inline constexpr std::wstring_view kGameExecutableName = L"Stonewake.exe";
inline constexpr std::string_view kGameExecutablePath = "game/Stonewake.exe";

inline constexpr std::wstring_view kInstalledRecordName = L"installed.txt";
inline constexpr std::wstring_view kShortcutMarkerName = L"shortcuts.txt";
inline constexpr std::wstring_view kIconMarkerName = L"icons.txt";
inline constexpr std::wstring_view kParkedLauncherName = L"Stonewake Launcher.old";
inline constexpr std::wstring_view kPartialRecordName = L"partials.txt";
inline constexpr std::wstring_view kVerifiedRecordName = L"verified.txt";

// The file the game writes its window layout to, in any folder of the game:
// no release owns it, so the launcher never deletes it as stale. Compared
// byte-exact.
inline constexpr std::string_view kGameLayoutFileName = "imgui.ini";
inline constexpr std::wstring_view kGameLayoutFileNameWide = L"imgui.ini";

// The install folder's own name, inside the user's local application data.
inline constexpr std::wstring_view kInstallFolderName = L"Stonewake";

// A launcher started from elsewhere copies itself beside the installed one
// under the installed name plus this suffix and renames the copy into
// place. It differs from kPartialSuffix, a patch's download of a new
// launcher, which a stray copy must never touch.
inline constexpr std::wstring_view kSelfInstallSuffix = L".installing";

// A file is downloaded under its own name plus this suffix and moved into
// place only once verified.
inline constexpr std::string_view kPartialSuffix = ".partial";
inline constexpr std::wstring_view kPartialSuffixWide = L".partial";

}  // namespace launcher
