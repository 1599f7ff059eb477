#include "test_support/held_file.h"

#include <gtest/gtest.h>

#include <atomic>

#include "core/paths.h"
#include "test_support/temp_folder.h"

namespace launcher::testing {
namespace {

std::atomic<unsigned> counter{0};

const wchar_t* SharingWord(Sharing sharing) {
  switch (sharing) {
    case Sharing::None: return L"none";
    case Sharing::Read: return L"read";
    case Sharing::ReadWrite: return L"readwrite";
  }
  return L"none";
}

}  // namespace

HeldFile::HeldFile(const std::wstring& path, Sharing sharing) {
  const std::wstring tag = std::to_wstring(GetCurrentProcessId()) + L"-" + std::to_wstring(counter++);
  const std::wstring readyName = L"Local\\StonewakeTestHoldReady-" + tag;
  const std::wstring releaseName = L"Local\\StonewakeTestHoldRelease-" + tag;
  HANDLE ready = CreateEventW(nullptr, TRUE, FALSE, readyName.c_str());
  release_ = CreateEventW(nullptr, TRUE, FALSE, releaseName.c_str());

  const std::wstring program = JoinPath(ProgramFolder(), L"hold_file.exe");
  std::wstring commandLine = L"\"" + program + L"\" \"" + path + L"\" " + SharingWord(sharing) + L" " +
                             readyName + L" " + releaseName;
  STARTUPINFOW startup{};
  startup.cb = sizeof(startup);
  PROCESS_INFORMATION info{};
  if (!CreateProcessW(nullptr, commandLine.data(), nullptr, nullptr, FALSE, 0, nullptr, nullptr, &startup, &info)) {
    ADD_FAILURE() << "cannot start hold_file.exe";
    CloseHandle(ready);
    return;
  }
  CloseHandle(info.hThread);
  process_ = info.hProcess;
  const HANDLE waits[] = {ready, process_};
  holding_ = WaitForMultipleObjects(2, waits, FALSE, 30000) == WAIT_OBJECT_0;
  CloseHandle(ready);
  EXPECT_TRUE(holding_) << "hold_file.exe did not open the file";
}

HeldFile::~HeldFile() {
  if (release_) SetEvent(release_);
  if (process_) {
    if (WaitForSingleObject(process_, 30000) != WAIT_OBJECT_0) TerminateProcess(process_, 1);
    CloseHandle(process_);
  }
  if (release_) CloseHandle(release_);
}

}  // namespace launcher::testing
