// The real launcher executable, started the way a player starts it: from a
// download folder or from its install folder, with LOCALAPPDATA of the
// test's choosing (set on the Windows side by with_env.exe). This prefix has
// no display, so an installed launcher ends by itself after its start-up
// upkeep when it cannot create its window; these tests look at what it
// left: files, shortcuts and the registry.
#include <windows.h>

#include <objbase.h>
#include <tlhelp32.h>

#include <gtest/gtest.h>

#include <chrono>
#include <optional>
#include <string>
#include <thread>

#include "core/paths.h"
#include "desktop/install_folder.h"
#include "desktop/testing/desktop_checks.h"
#include "files/file_handle.h"
#include "files/system_handles.h"
#include "test_support/programs.h"
#include "test_support/temp_folder.h"

namespace launcher {
namespace {

using testing::DesktopShortcut;
using testing::ExpectShortcutTo;
using testing::ExpectUninstallEntry;
using testing::FileExists;
using testing::ProgramFolder;
using testing::ProgramsShortcut;
using testing::ReadFileBytes;
using testing::RunAndWait;
using testing::TempFolder;
using testing::WriteFileBytes;

std::string Build(const wchar_t* relative) { return ReadFileBytes(JoinPath(ProgramFolder(), relative)); }
const std::string& Launcher251() {
  static const std::string bytes = Build(L"Stonewake Launcher.exe");
  return bytes;
}
const std::string& Launcher252() {
  static const std::string bytes = Build(L"launcher-2.5.2\\Stonewake Launcher.exe");
  return bytes;
}

// Processes whose executable is `image`.
int ProcessesRunning(const std::wstring& image) {
  // A snapshot that could not be taken is INVALID_HANDLE_VALUE, not null.
  FileHandle snapshot(CreateToolhelp32Snapshot(TH32CS_SNAPPROCESS, 0));
  PROCESSENTRY32W entry{};
  entry.dwSize = sizeof(entry);
  int count = 0;
  for (BOOL more = Process32FirstW(snapshot.get(), &entry); more; more = Process32NextW(snapshot.get(), &entry)) {
    KernelHandle process(OpenProcess(PROCESS_QUERY_LIMITED_INFORMATION, FALSE, entry.th32ProcessID));
    wchar_t path[MAX_PATH * 2] = {};
    DWORD size = MAX_PATH * 2;
    if (process && QueryFullProcessImageNameW(process.get(), 0, path, &size) && IsSameFile(path, image)) ++count;
  }
  return count;
}

template <typename Condition>
bool WaitUntil(Condition condition, std::chrono::seconds limit = std::chrono::seconds(60)) {
  const auto deadline = std::chrono::steady_clock::now() + limit;
  while (!condition()) {
    if (std::chrono::steady_clock::now() > deadline) return false;
    std::this_thread::sleep_for(std::chrono::milliseconds(50));
  }
  return true;
}

// A player's profile of its own (with a space in its path) and a download
// folder; removes the shortcuts and the entry the launchers make.
class LauncherTest : public ::testing::Test {
 protected:
  void SetUp() override {
    CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED);
    Forget();
  }
  void TearDown() override {
    WaitUntil([this] { return ProcessesRunning(Installed()) == 0; });
    Forget();
    CoUninitialize();
  }
  static void Forget() {
    DeleteFileW(DesktopShortcut().c_str());
    DeleteFileW(ProgramsShortcut().c_str());
    RegDeleteKeyW(HKEY_CURRENT_USER, testing::UninstallKey);
  }

  std::wstring Profile() const { return *root / L"App Data"; }
  std::wstring InstallFolder() const { return *root / L"App Data\\Stonewake"; }
  std::wstring Installed() const { return *root / L"App Data\\Stonewake\\Stonewake Launcher.exe"; }
  std::wstring Downloaded() const { return *root / L"Downloads\\Stonewake Launcher.exe"; }
  std::wstring InInstall(const wchar_t* name) const { return JoinPath(InstallFolder(), name); }

  // Runs `program` with LOCALAPPDATA = Profile() and returns its exit code.
  DWORD Run(const std::wstring& program) const {
    return RunAndWait(L"\"" + JoinPath(ProgramFolder(), L"with_env.exe") + L"\" \"LOCALAPPDATA=" + Profile() +
                      L"\" -- \"" + program + L"\"");
  }

  // Starts the downloaded launcher; the installed one it hands over to has
  // ended when this returns.
  DWORD RunDownloaded() const {
    const DWORD code = Run(Downloaded());
    EXPECT_TRUE(WaitUntil([this] { return ProcessesRunning(Installed()) == 0; }))
        << "the installed launcher did not end";
    return code;
  }

  std::optional<TempFolder> root{std::in_place};
};

// The first start from a download folder: the launcher copies itself into
// the install folder, byte for byte, and ends with 0; the installed copy it
// starts does the start-up upkeep.
TEST_F(LauncherTest, InstallsItselfAndHandsOver) {
  WriteFileBytes(Downloaded(), Launcher251());
  EXPECT_EQ(RunDownloaded(), 0u);

  EXPECT_TRUE(ReadFileBytes(Installed()) == Launcher251());
  EXPECT_TRUE(ReadFileBytes(Downloaded()) == Launcher251());
  EXPECT_FALSE(FileExists(Installed() + L".partial"));
  EXPECT_EQ(ReadFileBytes(InInstall(L"shortcuts.txt")), "made\r\n");
  EXPECT_EQ(ReadFileBytes(InInstall(L"icons.txt")), "2.5.1\r\n");
  ExpectShortcutTo(DesktopShortcut(), Installed(), InstallFolder());
  ExpectShortcutTo(ProgramsShortcut(), Installed(), InstallFolder());
  ExpectUninstallEntry(Installed(), InstallFolder(), L"2.5.1");
}

// A patch in progress downloads a new launcher as
// "Stonewake Launcher.exe.partial". A copy started from a download folder
// meanwhile copies itself in under a name of its own and leaves that
// download as it is.
TEST_F(LauncherTest, SelfInstallLeavesAPatchesLauncherDownloadAlone) {
  WriteFileBytes(Downloaded(), Launcher251());
  CreateDirectoryW(Profile().c_str(), nullptr);
  CreateDirectoryW(InstallFolder().c_str(), nullptr);
  WriteFileBytes(Installed() + L".partial", "the first half of a new launcher");
  EXPECT_EQ(RunDownloaded(), 0u);

  EXPECT_TRUE(ReadFileBytes(Installed()) == Launcher251());
  EXPECT_EQ(ReadFileBytes(Installed() + L".partial"), "the first half of a new launcher");
  EXPECT_FALSE(FileExists(Installed() + L".installing"));
}

// Later starts of the installed launcher: the entry is written again every
// time, shortcuts the player deleted stay deleted.
TEST_F(LauncherTest, LaterStartsRewriteTheEntryButNotDeletedShortcuts) {
  WriteFileBytes(Downloaded(), Launcher251());
  ASSERT_EQ(RunDownloaded(), 0u);

  DeleteFileW(DesktopShortcut().c_str());
  HKEY key = nullptr;
  ASSERT_EQ(RegOpenKeyExW(HKEY_CURRENT_USER, testing::UninstallKey, 0, KEY_WRITE, &key), ERROR_SUCCESS);
  RegDeleteValueW(key, L"UninstallString");
  RegSetValueExW(key, L"DisplayVersion", 0, REG_SZ, reinterpret_cast<const BYTE*>(L"1.0"), 4 * sizeof(wchar_t));
  RegCloseKey(key);

  Run(Installed());
  ExpectUninstallEntry(Installed(), InstallFolder(), L"2.5.1");
  EXPECT_FALSE(FileExists(DesktopShortcut()));
  ExpectShortcutTo(ProgramsShortcut(), Installed(), InstallFolder());
}

// What is installed already decides by file version (real builds: this
// build's 2.5.1, the 2.5.2 variant, a program without a version resource);
// the marker "icons.txt" names the version of the launcher that then ran.
TEST_F(LauncherTest, FileVersionsDecideWhetherToCopy) {
  struct Case {
    const char* name;
    std::string installed;
    std::string downloaded;
    std::string expected;
    const char* ran;
  };
  const Case cases[] = {
      {"equal versions: copied", Launcher251() + "different bytes, same version", Launcher251(), Launcher251(),
       "2.5.1\r\n"},
      {"installed newer: kept and started", Launcher252(), Launcher251(), Launcher252(), "2.5.2\r\n"},
      {"installed older: replaced", Launcher251(), Launcher252(), Launcher252(), "2.5.2\r\n"},
      {"installed without a version: replaced", Build(L"record_start.exe"), Launcher251(), Launcher251(), "2.5.1\r\n"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    root.emplace();
    WriteFileBytes(Installed(), c.installed);
    WriteFileBytes(Downloaded(), c.downloaded);

    EXPECT_EQ(RunDownloaded(), 0u);
    EXPECT_TRUE(ReadFileBytes(Installed()) == c.expected);
    EXPECT_EQ(ReadFileBytes(InInstall(L"icons.txt")), c.ran);
    Forget();
  }
}

// A file named "Stonewake" where the install folder belongs: nothing can be
// installed or started, and the launcher ends with 1 (after its error box,
// which this prefix cannot show; the windowed tests read it).
TEST_F(LauncherTest, EndsWithOneWhenTheInstalledCopyCannotStart) {
  WriteFileBytes(InstallFolder(), "a file, not a folder");
  WriteFileBytes(Downloaded(), Launcher251());
  EXPECT_EQ(RunDownloaded(), 1u);
  EXPECT_EQ(ReadFileBytes(InstallFolder()), "a file, not a folder");
  EXPECT_FALSE(testing::UninstallEntryExists());
}

}  // namespace
}  // namespace launcher
