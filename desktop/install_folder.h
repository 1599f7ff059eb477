// Where the launcher lives and how a copy started from anywhere else hands
// over to it: the per-user install folder, the program's own executable,
// launcher versions, and the self-install.
#pragma once

#include <cstdint>
#include <string>

namespace launcher {

// "LOCALAPPDATA" joined with "Stonewake", as a full path. When the variable
// is not set or empty, the user's known LocalAppData folder takes its place,
// and the current folder only when that cannot be resolved either.
std::wstring InstallFolder();

// The full path of the running executable, however long.
std::wstring OwnExecutablePath();

// The file version of the executable at `path` as one number: the fixed
// file information's dwFileVersionMS in the high 32 bits and
// dwFileVersionLS in the low 32 bits. 0 when the file has no version
// resource or it cannot be read.
std::uint64_t FileVersion(const std::wstring& path);

// True when the two paths name the same file: equal full paths (ignoring
// case), or two files that both open and report the same volume serial
// number and file index. Files are opened for their identity only, with no
// access rights and full sharing, so a file that another process holds
// still compares.
bool IsSameFile(const std::wstring& first, const std::wstring& second);

// For a launcher started outside the install folder: creates the folder,
// copies the running executable over `installedExecutable` unless the
// installed launcher has a strictly higher file version (no installed file,
// or one whose status cannot be read, is always copied over; the copy is
// written beside it under a name of its own, never the ".partial" of a
// patch's new launcher, and renamed into place), then starts
// the installed launcher without arguments in `installFolder`.
// Folder creation and copy failures are silent. Returns the exit code: 0,
// or 1 after an error box ("Could not start Stonewake Launcher.exe.") when
// the installed launcher cannot be started.
int SelfInstall(const std::wstring& ownExecutable, const std::wstring& installFolder,
                const std::wstring& installedExecutable);

}  // namespace launcher
