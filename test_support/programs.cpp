#include "test_support/programs.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <thread>

#include "core/text.h"
#include "files/system_handles.h"
#include "test_support/temp_folder.h"

namespace launcher::testing {

DWORD RunAndWait(std::wstring commandLine, const std::wstring& folder, std::chrono::milliseconds timeout) {
  STARTUPINFOW startup{};
  startup.cb = sizeof(startup);
  PROCESS_INFORMATION info{};
  // Wine under a heavy load now and then fails to start a process that
  // starts at the next attempt; a program that cannot start fails every time.
  DWORD error = ERROR_SUCCESS;
  for (int attempt = 0; attempt < 3; ++attempt) {
    if (attempt > 0) std::this_thread::sleep_for(std::chrono::milliseconds(250));
    if (CreateProcessW(nullptr, commandLine.data(), nullptr, nullptr, FALSE, 0, nullptr,
                       folder.empty() ? nullptr : folder.c_str(), &startup, &info)) {
      error = ERROR_SUCCESS;
      break;
    }
    error = GetLastError();
    std::fprintf(stderr, "starting %s failed with error %lu\n", NarrowLow(commandLine).c_str(), error);
  }
  if (error != ERROR_SUCCESS) {
    ADD_FAILURE() << "cannot start " << NarrowLow(commandLine) << " (error " << error << ")";
    return 0xFFFFFFFF;
  }
  const KernelHandle thread(info.hThread);
  const KernelHandle process(info.hProcess);
  if (WaitForSingleObject(process.get(), static_cast<DWORD>(timeout.count())) != WAIT_OBJECT_0) {
    ADD_FAILURE() << "still running after " << timeout.count() << " ms: " << NarrowLow(commandLine);
    TerminateProcess(process.get(), 0xFFFFFFFF);
    WaitForSingleObject(process.get(), 10000);
    return 0xFFFFFFFF;
  }
  DWORD code = 0xFFFFFFFF;
  GetExitCodeProcess(process.get(), &code);
  return code;
}

bool WaitForFile(const std::wstring& path, std::chrono::milliseconds timeout) {
  const auto deadline = std::chrono::steady_clock::now() + timeout;
  while (!FileExists(path)) {
    if (std::chrono::steady_clock::now() >= deadline) return false;
    std::this_thread::sleep_for(std::chrono::milliseconds(20));
  }
  return true;
}

std::vector<std::wstring> WaitForStartRecord(const std::wstring& path, std::chrono::milliseconds timeout) {
  if (!WaitForFile(path, timeout)) return {};
  const std::string bytes = ReadFileBytes(path);
  const std::wstring text(reinterpret_cast<const wchar_t*>(bytes.data()), bytes.size() / sizeof(wchar_t));
  std::vector<std::wstring> lines;
  std::size_t start = 0;
  for (std::size_t end; (end = text.find(L'\n', start)) != std::wstring::npos; start = end + 1) {
    lines.push_back(text.substr(start, end - start));
  }
  return lines;
}

}  // namespace launcher::testing
