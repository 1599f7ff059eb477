// The uninstall entry as the registry holds it, and the removal command's
// parameters.
#include "desktop/uninstall.h"

#include <windows.h>

#include <gtest/gtest.h>

#include <optional>
#include <string>

#include "desktop/testing/desktop_checks.h"
#include "resources/launcher_version.h"

namespace launcher {
namespace {

using testing::ExpectUninstallEntry;
using testing::UninstallKey;

class UninstallEntryTest : public ::testing::Test {
 protected:
  void SetUp() override { RegDeleteKeyW(HKEY_CURRENT_USER, UninstallKey); }
  void TearDown() override { RegDeleteKeyW(HKEY_CURRENT_USER, UninstallKey); }
};

TEST_F(UninstallEntryTest, WritesTheEightValues) {
  const std::wstring folder = L"C:\\users\\Ann Lee\\AppData\\Local\\Stonewake";
  const std::wstring launcher = folder + L"\\Stonewake Launcher.exe";
  WriteUninstallEntry(launcher, folder);
  ExpectUninstallEntry(launcher, folder, LauncherVersionText);
}

// A later start rewrites every value, whatever became of them.
TEST_F(UninstallEntryTest, EveryStartRewritesTheEntry) {
  WriteUninstallEntry(L"C:\\old\\Stonewake Launcher.exe", L"C:\\old");
  HKEY key = nullptr;
  ASSERT_EQ(RegOpenKeyExW(HKEY_CURRENT_USER, UninstallKey, 0, KEY_WRITE, &key), ERROR_SUCCESS);
  const DWORD zero = 0;
  RegSetValueExW(key, L"NoRepair", 0, REG_DWORD, reinterpret_cast<const BYTE*>(&zero), sizeof(zero));
  RegSetValueExW(key, L"DisplayVersion", 0, REG_SZ, reinterpret_cast<const BYTE*>(L"0.1"), 4 * sizeof(wchar_t));
  RegCloseKey(key);

  const std::wstring folder = L"D:\\Games\\Stonewake";
  WriteUninstallEntry(folder + L"\\Stonewake Launcher.exe", folder);
  ExpectUninstallEntry(folder + L"\\Stonewake Launcher.exe", folder, LauncherVersionText);
}

TEST(PlanRemoval, OnlyForAFolderCmdCanBeTrustedWith) {
  // "/d" first: no AutoRun command of the user's may run before the removal
  // (nor change the folder it names the install folder from).
  const std::wstring prefix = L"/d /v:off /c timeout /t 2 /nobreak >nul & rmdir /s /q \"";
  const std::wstring system = L"C:\\windows\\system32";
  struct Case {
    const char* name;
    std::wstring folder;
    bool started;
    std::wstring named = {};    // the folder as the command names it
    std::wstring runsIn = {};   // cmd's current folder
  };
  const Case cases[] = {
      {"profile with spaces", L"C:\\Users\\Ann Lee\\AppData\\Local\\Stonewake", true},
      {"characters cmd keeps inside quotes", L"C:\\Users\\A&B (x) ^!<>|\\AppData\\Local\\Stonewake", true},
      {"forward slash after the drive", L"c:/Users/ann/Stonewake", true},
      {"network share", L"\\\\server\\home\\ann\\Stonewake", true},
      {"percent sign: run in the parent, name the folder alone", L"C:\\Users\\100%\\AppData\\Local\\Stonewake",
       true, L"Stonewake", L"C:\\Users\\100%\\AppData\\Local"},
      {"variable: not expanded", L"C:\\Users\\%USERNAME%\\Stonewake", true, L"Stonewake",
       L"C:\\Users\\%USERNAME%"},
      {"percent in the folder's own name", L"C:\\Users\\ann\\50%", false},
      {"percent under a network share", L"\\\\server\\100%\\Stonewake", false},
      {"relative", L"Stonewake", false},
      {"relative with a folder", L"AppData\\Stonewake", false},
      {"current folder of a drive", L"C:Stonewake", false},
      {"root of the current drive", L"\\Users\\ann\\Stonewake", false},
      {"quote", L"C:\\Users\\a\" & rmdir /s /q \"C:\\Users\\Stonewake", false},
      {"line break", L"C:\\Users\\a\r\nrmdir C:\\x\\Stonewake", false},
      {"empty", L"", false},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    const std::optional<RemovalCommand> command = PlanRemoval(c.folder, system);
    ASSERT_EQ(command.has_value(), c.started);
    if (command) {
      EXPECT_EQ(command->parameters, prefix + (c.named.empty() ? c.folder : c.named) + L"\"");
      EXPECT_EQ(command->workingFolder, c.runsIn.empty() ? system : c.runsIn);
    }
  }
  EXPECT_FALSE(PlanRemoval(L"C:\\Users\\ann\\Stonewake", L"").has_value()) << "no system folder, no cmd";
}

}  // namespace
}  // namespace launcher
