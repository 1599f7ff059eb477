// The launcher replacing its own executable for real: a launcher-like
// program runs from an install folder as "Stonewake Launcher.exe" and
// applies a release that carries a new launcher.
#include <windows.h>

#include <gtest/gtest.h>

#include <chrono>
#include <string>
#include <thread>
#include <vector>

#include "core/paths.h"
#include "files/file_handle.h"
#include "files/system_handles.h"
#include "test_support/programs.h"
#include "test_support/temp_folder.h"
#include "test_support/test_release.h"
#include "test_support/test_server.h"

namespace launcher {
namespace {

using testing::FileExists;
using testing::ProgramFolder;
using testing::PublishRelease;
using testing::ReadFileBytes;
using testing::TempFolder;
using testing::TestRelease;
using testing::TestServer;
using testing::WriteFileBytes;

std::string HelperProgram(const wchar_t* name) { return ReadFileBytes(JoinPath(ProgramFolder(), name)); }

void WaitForFile(const std::wstring& path) {
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(30);
  while (!FileExists(path) && std::chrono::steady_clock::now() < deadline) {
    std::this_thread::sleep_for(std::chrono::milliseconds(20));
  }
}

class SelfUpdateTest : public ::testing::Test {
 protected:
  void SetUp() override {
    oldLauncher = HelperProgram(L"self_update_launcher.exe");
    // The new launcher records how it was started, beside itself.
    newLauncher = HelperProgram(L"record_start.exe");
    release.version = "7.1";
    release.files = {{"game/data.pak", std::string(200000, 'd')}, {"Stonewake Launcher.exe", newLauncher}};
    PublishRelease(server, release);
    WriteFileBytes(Path(L"Stonewake Launcher.exe"), oldLauncher);
    WriteFileBytes(Path(L"Stonewake Launcher.old"), "left by an earlier update");
  }

  std::wstring Path(std::wstring_view name) const { return install / name; }

  // Starts the installed launcher on the test server's release and waits for
  // it to finish; returns what it wrote into apply-result.txt.
  std::string RunInstalledLauncher(const std::wstring& extraArguments = L"") {
    testing::RunAndWait(L"\"" + Path(L"Stonewake Launcher.exe") + L"\" " + server.baseUrl() + extraArguments,
                        install.path());
    return ReadFileBytes(Path(L"apply-result.txt"));
  }

  TestServer server;
  TempFolder install;
  TestRelease release;
  std::string oldLauncher;
  std::string newLauncher;
};

// The running launcher's file is renamed to ".old" (replacing a leftover
// one), the new launcher takes its place and is started with "--updated"
// in the install folder.
TEST_F(SelfUpdateTest, ParksItselfAndStartsTheNewLauncher) {
  EXPECT_EQ(RunInstalledLauncher(), "replaced");

  EXPECT_TRUE(ReadFileBytes(Path(L"Stonewake Launcher.exe")) == newLauncher);
  EXPECT_TRUE(ReadFileBytes(Path(L"Stonewake Launcher.old")) == oldLauncher);
  EXPECT_FALSE(FileExists(Path(L"Stonewake Launcher.exe.partial")));
  EXPECT_TRUE(ReadFileBytes(Path(L"game\\data.pak")) == release.files[0].content);
  EXPECT_EQ(ReadFileBytes(Path(L"installed.txt")), "7.1\r\n");

  const std::wstring recordPath = Path(L"Stonewake Launcher.exe.started");
  WaitForFile(recordPath);
  const std::string bytes = ReadFileBytes(recordPath);
  const std::wstring record(reinterpret_cast<const wchar_t*>(bytes.data()), bytes.size() / sizeof(wchar_t));
  EXPECT_EQ(record, L"\"" + Path(L"Stonewake Launcher.exe") + L"\" --updated\n" + install.path() + L"\n");
}

// Another process opens the new launcher while it is being downloaded and
// keeps it open without delete sharing, so moving it into place fails after
// the running launcher's file was parked: the parked file is moved back, and
// the install keeps a launcher that starts.
TEST_F(SelfUpdateTest, MovesItselfBackWhenTheNewLauncherCannotTakeItsPlace) {
  const std::wstring tag = std::to_wstring(GetCurrentProcessId());
  const std::wstring readyName = L"Local\\StonewakeSelfUpdateReady-" + tag;
  const std::wstring heldName = L"Local\\StonewakeSelfUpdateHeld-" + tag;
  KernelHandle ready(CreateEventW(nullptr, TRUE, FALSE, readyName.c_str()));
  KernelHandle held(CreateEventW(nullptr, TRUE, FALSE, heldName.c_str()));
  ASSERT_TRUE(ready && held);

  FileHandle scanner;
  std::thread holder([&] {
    if (WaitForSingleObject(ready.get(), 60000) == WAIT_OBJECT_0) {
      scanner.reset(CreateFileW(Path(L"Stonewake Launcher.exe.partial").c_str(), GENERIC_READ,
                                FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr, OPEN_EXISTING, 0, nullptr));
    }
    SetEvent(held.get());
  });
  const std::string result = RunInstalledLauncher(L" " + readyName + L" " + heldName);
  holder.join();
  EXPECT_TRUE(scanner) << "the new launcher's download was not held";
  scanner.reset();

  EXPECT_EQ(result, "error: The launcher could not be updated. Try again.");
  EXPECT_TRUE(ReadFileBytes(Path(L"Stonewake Launcher.exe")) == oldLauncher);
  EXPECT_FALSE(FileExists(Path(L"Stonewake Launcher.old")));
  EXPECT_TRUE(ReadFileBytes(Path(L"Stonewake Launcher.exe.partial")) == newLauncher);
  EXPECT_FALSE(FileExists(Path(L"Stonewake Launcher.exe.started")));
  // Everything before the launcher is done and recorded.
  EXPECT_TRUE(ReadFileBytes(Path(L"game\\data.pak")) == release.files[0].content);
  EXPECT_EQ(ReadFileBytes(Path(L"installed.txt")), "7.1\r\n");

  // The launcher that stayed is the one that runs: the next attempt, with
  // nothing in the way, replaces it.
  EXPECT_EQ(RunInstalledLauncher(), "replaced");
  EXPECT_TRUE(ReadFileBytes(Path(L"Stonewake Launcher.exe")) == newLauncher);
  EXPECT_TRUE(ReadFileBytes(Path(L"Stonewake Launcher.old")) == oldLauncher);
  WaitForFile(Path(L"Stonewake Launcher.exe.started"));
}

}  // namespace
}  // namespace launcher
