// The install folder, launcher versions of real builds, and the same-file
// test that keeps the installed copy from taking itself for a stray.
#include "desktop/install_folder.h"

#include <windows.h>

#include <gtest/gtest.h>

#include <cstdint>
#include <optional>
#include <string>

#include "core/paths.h"
#include "desktop/shortcuts.h"
#include "test_support/held_file.h"
#include "test_support/temp_folder.h"

namespace launcher {
namespace {

using testing::ProgramFolder;
using testing::TempFolder;
using testing::WriteFileBytes;

// Sets LOCALAPPDATA of this process for one scope, then puts back the old
// value.
class ScopedLocalAppData {
 public:
  explicit ScopedLocalAppData(const std::optional<std::wstring>& value) {
    wchar_t old[32768];
    const DWORD length = GetEnvironmentVariableW(L"LOCALAPPDATA", old, 32768);
    if (length > 0 && length < 32768) old_ = std::wstring(old, length);
    SetEnvironmentVariableW(L"LOCALAPPDATA", value ? value->c_str() : nullptr);
  }
  ~ScopedLocalAppData() { SetEnvironmentVariableW(L"LOCALAPPDATA", old_ ? old_->c_str() : nullptr); }
  ScopedLocalAppData(const ScopedLocalAppData&) = delete;
  ScopedLocalAppData& operator=(const ScopedLocalAppData&) = delete;

 private:
  std::optional<std::wstring> old_;
};

// The folder a copy of the launcher resolves, from wherever it runs: always
// a full path, so the installed copy, whose current folder is the install
// folder, finds the same one and knows itself.
TEST(InstallFolder, IsStonewakeUnderLocalAppData) {
  const std::wstring longValue = L"C:\\" + std::wstring(300, L'a');
  const std::wstring known = KnownFolderPath(FOLDERID_LocalAppData);
  ASSERT_FALSE(known.empty());
  TempFolder current;
  const std::wstring currentFull = current.path();
  struct Case {
    const char* name;
    std::optional<std::wstring> value;
    std::wstring expected;
  };
  const Case cases[] = {
      {"profile", L"C:\\users\\Ann Lee\\AppData\\Local", L"C:\\users\\Ann Lee\\AppData\\Local\\Stonewake"},
      {"trailing separator", L"D:\\Data\\", L"D:\\Data\\Stonewake"},
      {"one below the buffer", L"C:\\" + std::wstring(256, L'b'), L"C:\\" + std::wstring(256, L'b') + L"\\Stonewake"},
      {"exactly the buffer", L"C:\\" + std::wstring(257, L'c'), L"C:\\" + std::wstring(257, L'c') + L"\\Stonewake"},
      {"longer than the buffer", longValue, longValue + L"\\Stonewake"},
      {"not set: the known folder", std::nullopt, known + L"\\Stonewake"},
      {"empty: the known folder", L"", known + L"\\Stonewake"},
      {"relative: made full once", L"Profile", currentFull + L"\\Profile\\Stonewake"},
  };
  wchar_t previous[MAX_PATH + 1] = {};
  GetCurrentDirectoryW(MAX_PATH + 1, previous);
  ASSERT_TRUE(SetCurrentDirectoryW(current.path().c_str()));
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    ScopedLocalAppData scoped(c.value);
    EXPECT_EQ(InstallFolder(), c.expected);
  }
  SetCurrentDirectoryW(previous);
}

TEST(OwnExecutablePath, IsThisProgram) {
  const std::wstring own = OwnExecutablePath();
  EXPECT_EQ(LastPathComponent(own), L"desktop_test.exe");
  EXPECT_TRUE(IsSameFile(own, JoinPath(ProgramFolder(), L"desktop_test.exe")));
}

constexpr std::uint64_t Version(std::uint64_t major, std::uint64_t minor, std::uint64_t patch, std::uint64_t build) {
  return major << 48 | minor << 32 | patch << 16 | build;
}

TEST(FileVersion, ReadsRealBuildsAndIsZeroWithoutAResource) {
  TempFolder folder;
  WriteFileBytes(folder / L"notes.txt", "not a program");
  struct Case {
    const char* name;
    std::wstring path;
    std::uint64_t expected;
  };
  const Case cases[] = {
      {"this build's launcher", JoinPath(ProgramFolder(), L"Stonewake Launcher.exe"), Version(2, 5, 1, 0)},
      {"the 2.5.2 build", JoinPath(ProgramFolder(), L"launcher-2.5.2\\Stonewake Launcher.exe"), Version(2, 5, 2, 0)},
      {"a program without a version resource", JoinPath(ProgramFolder(), L"record_start.exe"), 0},
      {"a text file", folder / L"notes.txt", 0},
      {"no file", folder / L"missing.exe", 0},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    EXPECT_EQ(FileVersion(c.path), c.expected);
  }
}

class SameFileTest : public ::testing::Test {
 protected:
  void SetUp() override {
    WriteFileBytes(folder / L"sub\\Stonewake Launcher.exe", "launcher");
    WriteFileBytes(folder / L"copy.exe", "launcher");
    ASSERT_TRUE(CreateHardLinkW((folder / L"linked.exe").c_str(), Launcher().c_str(), nullptr));
  }
  std::wstring Launcher() const { return folder / L"sub\\Stonewake Launcher.exe"; }

  TempFolder folder;
};

TEST_F(SameFileTest, ComparesPathsAndFileIdentity) {
  std::wstring upper = Launcher();
  for (wchar_t& c : upper) c = static_cast<wchar_t>(towupper(c));
  std::wstring slashes = Launcher();
  for (wchar_t& c : slashes) c = c == L'\\' ? L'/' : c;
  struct Case {
    const char* name;
    std::wstring other;
    bool same;
  };
  const Case cases[] = {
      {"the same path", Launcher(), true},
      {"other case", upper, true},
      {"forward slashes", slashes, true},
      {"through a parent step", folder / L"sub\\..\\sub\\Stonewake Launcher.exe", true},
      {"a hard link", folder / L"linked.exe", true},
      {"an equal copy", folder / L"copy.exe", false},
      {"nothing there", folder / L"Stonewake Launcher.exe", false},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    EXPECT_EQ(IsSameFile(Launcher(), c.other), c.same);
    EXPECT_EQ(IsSameFile(c.other, Launcher()), c.same);
  }
  EXPECT_TRUE(IsSameFile(folder / L"missing.exe", folder / L"MISSING.EXE"));
}

// A running launcher holds its own file; another name for it must still
// compare as the same file.
TEST_F(SameFileTest, HeldWithoutSharingIsStillTheSameFile) {
  testing::HeldFile held(Launcher(), testing::Sharing::None);
  ASSERT_TRUE(held.holding());
  EXPECT_TRUE(IsSameFile(Launcher(), folder / L"linked.exe"));
  EXPECT_FALSE(IsSameFile(Launcher(), folder / L"copy.exe"));
}

}  // namespace
}  // namespace launcher
