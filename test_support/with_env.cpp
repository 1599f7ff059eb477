// Runs a program with environment variables of the test's choosing:
//
//   with_env.exe NAME=VALUE [NAME=VALUE...] -- PROGRAM-COMMAND-LINE
//
// Under Wine, variables such as LOCALAPPDATA come from the prefix's registry
// at process start and a value exported on the Linux side is ignored, so a
// test that gives the launcher its own install folder starts it through
// this helper. Everything after the first " -- " of the command line is
// handed to CreateProcessW unchanged (quotes included); from Linux, pass the
// program path and its arguments as separate arguments and Wine quotes a
// path with spaces itself:
//
//   wine with_env.exe "LOCALAPPDATA=C:\t\a b" -- "C:\t\Stonewake Launcher.exe"
//
// Waits for the program and exits with its exit code; 3 when it cannot start.
#include <windows.h>

#include <shellapi.h>

#include <string>

#include "files/system_handles.h"

namespace {

using launcher::ArgumentList;
using Handle = launcher::KernelHandle;

}  // namespace

int wmain() {
  const std::wstring line = GetCommandLineW();
  const std::size_t separator = line.find(L" -- ");
  if (separator == std::wstring::npos) return 2;
  std::wstring child = line.substr(separator + 4);

  int count = 0;
  const ArgumentList args(CommandLineToArgvW(line.substr(0, separator).c_str(), &count));
  if (!args) return 2;
  for (int i = 1; i < count; ++i) {
    const std::wstring pair = args.get()[i];
    const std::size_t equals = pair.find(L'=');
    if (equals == std::wstring::npos || equals == 0) return 2;
    SetEnvironmentVariableW(pair.substr(0, equals).c_str(), pair.substr(equals + 1).c_str());
  }

  STARTUPINFOW startup = {};
  startup.cb = sizeof startup;
  PROCESS_INFORMATION process = {};
  if (!CreateProcessW(nullptr, child.data(), nullptr, nullptr, FALSE, 0, nullptr, nullptr, &startup, &process)) {
    return 3;
  }
  const Handle thread(process.hThread);
  const Handle childProcess(process.hProcess);
  WaitForSingleObject(childProcess.get(), INFINITE);
  DWORD code = 3;
  GetExitCodeProcess(childProcess.get(), &code);
  return static_cast<int>(code);
}
