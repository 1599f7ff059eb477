// Running the test helper programs and reading what they leave behind: one
// way to start a program and wait for it, to wait for a file, and to read
// the record of record_start.exe.
#pragma once

#include <windows.h>

#include <chrono>
#include <string>
#include <vector>

namespace launcher::testing {

// Runs `commandLine` (the program's path quoted by the caller) in `folder`,
// or in this process's current folder when it is empty, and waits for it to
// end. Returns its exit code; when it cannot start or does not end within
// `timeout` the test fails, a late program is ended, and 0xFFFFFFFF comes
// back.
DWORD RunAndWait(std::wstring commandLine, const std::wstring& folder = {},
                 std::chrono::milliseconds timeout = std::chrono::seconds(60));

// Waits until something exists at `path`, for at most `timeout`; false when
// nothing appeared.
bool WaitForFile(const std::wstring& path, std::chrono::milliseconds timeout = std::chrono::seconds(30));

// The two lines record_start.exe writes, its command line and its current
// folder, once the record at `path` exists (it is renamed into place whole);
// empty when no record appeared within `timeout`.
std::vector<std::wstring> WaitForStartRecord(const std::wstring& path,
                                             std::chrono::milliseconds timeout = std::chrono::seconds(30));

}  // namespace launcher::testing
