#include "engine/process_start.h"

#include <windows.h>

#include <vector>

#include "core/install_layout.h"
#include "core/paths.h"
#include "core/records.h"

namespace launcher {
namespace {

constexpr DWORD kIdleWaitMilliseconds = 4000;

// Closes the thread handle, then the process handle.
class ProcessHandles {
 public:
  ProcessHandles() = default;
  ~ProcessHandles() {
    if (info_.hThread) CloseHandle(info_.hThread);
    if (info_.hProcess) CloseHandle(info_.hProcess);
  }
  ProcessHandles(const ProcessHandles&) = delete;
  ProcessHandles& operator=(const ProcessHandles&) = delete;

  PROCESS_INFORMATION* put() { return &info_; }
  HANDLE process() const { return info_.hProcess; }

 private:
  PROCESS_INFORMATION info_{};
};

}  // namespace

std::wstring ProcessCommandLine(const std::wstring& program, const std::wstring& arguments) {
  std::wstring commandLine = L"\"" + program + L"\"";
  if (!arguments.empty()) commandLine += L" " + arguments;
  return commandLine;
}

void StartProcess(const std::wstring& program, const std::wstring& arguments, const std::wstring& workingFolder,
                  bool waitForIdle) {
  // CreateProcessW may write into the command line, so it gets a copy of
  // its own.
  const std::wstring text = ProcessCommandLine(program, arguments);
  std::vector<wchar_t> commandLine(text.begin(), text.end());
  commandLine.push_back(L'\0');

  STARTUPINFOW startup{};
  startup.cb = sizeof(startup);
  ProcessHandles started;
  if (!CreateProcessW(nullptr, commandLine.data(), nullptr, nullptr, FALSE, 0, nullptr,
                      workingFolder.empty() ? nullptr : workingFolder.c_str(), &startup, started.put())) {
    const DWORD error = GetLastError();
    throw LauncherError{L"Could not start " + LastPathComponent(program) + L".", error};
  }
  // Only a delay: a program without a window never becomes idle, and the
  // launcher does not watch what it started.
  if (waitForIdle) WaitForInputIdle(started.process(), kIdleWaitMilliseconds);
}

void StartGame(std::wstring_view installFolder, std::wstring_view version) {
  const std::wstring gameFolder = JoinPath(installFolder, kGameFolderName);
  StartProcess(JoinPath(gameFolder, kGameExecutableName), L"--launcher " + std::wstring(version), gameFolder, true);
}

}  // namespace launcher
