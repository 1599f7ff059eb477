// Starting other programs: the game, and the launcher itself after a
// self-replacement or a hand-over to the installed copy.
#pragma once

#include <string>
#include <string_view>

namespace launcher {

// The command line StartProcess passes: the program path in double quotes,
// then, only when `arguments` is not empty, one space and the arguments.
// Nothing is escaped.
std::wstring ProcessCommandLine(const std::wstring& program, const std::wstring& arguments);

// Starts `program` with `arguments` in `workingFolder`, then closes every
// handle to it. With `waitForIdle` it waits up to 4 seconds for the new
// process to become idle first (the result of the wait is ignored).
// Throws LauncherError "Could not start <program's file name>.".
void StartProcess(const std::wstring& program, const std::wstring& arguments, const std::wstring& workingFolder,
                  bool waitForIdle);

// Starts "Stonewake.exe" in the install folder's "game" folder, in that
// folder, with "--launcher " + version (the space stays when the version is
// empty). Throws StartProcess's message.
void StartGame(std::wstring_view installFolder, std::wstring_view version);

}  // namespace launcher
