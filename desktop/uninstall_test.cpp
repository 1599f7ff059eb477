// The uninstall entry as the registry holds it, and the removal command's
// parameters.
#include "desktop/uninstall.h"

#include <windows.h>

#include <gtest/gtest.h>

#include <optional>
#include <string>
#include <vector>

#include "release/launcher_version.h"
#include "release/text.h"

namespace launcher {
namespace {

constexpr wchar_t kKey[] = L"Software\\Microsoft\\Windows\\CurrentVersion\\Uninstall\\Stonewake";

struct Value {
  DWORD type = REG_NONE;
  std::vector<BYTE> data;
};

Value ReadValue(HKEY key, const wchar_t* name) {
  Value value;
  DWORD size = 0;
  if (RegQueryValueExW(key, name, nullptr, &value.type, nullptr, &size) != ERROR_SUCCESS) return {};
  value.data.resize(size);
  RegQueryValueExW(key, name, nullptr, &value.type, value.data.data(), &size);
  return value;
}

Value Text(const std::wstring& text) {
  const auto* bytes = reinterpret_cast<const BYTE*>(text.c_str());
  return {REG_SZ, std::vector<BYTE>(bytes, bytes + (text.size() + 1) * sizeof(wchar_t))};
}

Value Number(DWORD number) {
  const auto* bytes = reinterpret_cast<const BYTE*>(&number);
  return {REG_DWORD, std::vector<BYTE>(bytes, bytes + sizeof(number))};
}

class UninstallEntryTest : public ::testing::Test {
 protected:
  void SetUp() override { RegDeleteKeyW(HKEY_CURRENT_USER, kKey); }
  void TearDown() override { RegDeleteKeyW(HKEY_CURRENT_USER, kKey); }

  // The entry's values by name, and how many values it has.
  void ExpectEntry(const std::wstring& launcher, const std::wstring& folder) {
    HKEY key = nullptr;
    ASSERT_EQ(RegOpenKeyExW(HKEY_CURRENT_USER, kKey, 0, KEY_READ, &key), ERROR_SUCCESS);
    struct Expected {
      const wchar_t* name;
      Value value;
    };
    const Expected values[] = {
        {L"DisplayName", Text(L"Stonewake")},
        {L"DisplayIcon", Text(launcher)},
        {L"DisplayVersion", Text(LauncherVersionText)},
        {L"Publisher", Text(L"Stonewake")},
        {L"InstallLocation", Text(folder)},
        {L"UninstallString", Text(L"\"" + launcher + L"\" --uninstall")},
        {L"NoModify", Number(1)},
        {L"NoRepair", Number(1)},
    };
    for (const Expected& e : values) {
      SCOPED_TRACE(NarrowLow(e.name));
      const Value read = ReadValue(key, e.name);
      EXPECT_EQ(read.type, e.value.type);
      EXPECT_EQ(read.data, e.value.data);
    }
    DWORD count = 0;
    RegQueryInfoKeyW(key, nullptr, nullptr, nullptr, nullptr, nullptr, nullptr, &count, nullptr, nullptr, nullptr,
                     nullptr);
    EXPECT_EQ(count, 8u);
    RegCloseKey(key);
  }
};

TEST_F(UninstallEntryTest, WritesTheEightValues) {
  const std::wstring folder = L"C:\\users\\Ann Lee\\AppData\\Local\\Stonewake";
  const std::wstring launcher = folder + L"\\Stonewake Launcher.exe";
  WriteUninstallEntry(launcher, folder);
  ExpectEntry(launcher, folder);
}

// A later start rewrites every value, whatever became of them.
TEST_F(UninstallEntryTest, EveryStartRewritesTheEntry) {
  WriteUninstallEntry(L"C:\\old\\Stonewake Launcher.exe", L"C:\\old");
  HKEY key = nullptr;
  ASSERT_EQ(RegOpenKeyExW(HKEY_CURRENT_USER, kKey, 0, KEY_WRITE, &key), ERROR_SUCCESS);
  const DWORD zero = 0;
  RegSetValueExW(key, L"NoRepair", 0, REG_DWORD, reinterpret_cast<const BYTE*>(&zero), sizeof(zero));
  RegSetValueExW(key, L"DisplayVersion", 0, REG_SZ, reinterpret_cast<const BYTE*>(L"0.1"), 4 * sizeof(wchar_t));
  RegCloseKey(key);

  const std::wstring folder = L"D:\\Games\\Stonewake";
  WriteUninstallEntry(folder + L"\\Stonewake Launcher.exe", folder);
  ExpectEntry(folder + L"\\Stonewake Launcher.exe", folder);
}

TEST(RemovalParameters, OnlyForAFullPathCmdLeavesAlone) {
  const std::wstring prefix = L"/v:off /c timeout /t 2 /nobreak >nul & rmdir /s /q \"";
  struct Case {
    const char* name;
    std::wstring folder;
    bool started;
  };
  const Case cases[] = {
      {"profile with spaces", L"C:\\Users\\Ann Lee\\AppData\\Local\\Stonewake", true},
      {"characters cmd keeps inside quotes", L"C:\\Users\\A&B (x) ^!<>|\\AppData\\Local\\Stonewake", true},
      {"forward slash after the drive", L"c:/Users/ann/Stonewake", true},
      {"network share", L"\\\\server\\home\\ann\\Stonewake", true},
      {"relative", L"Stonewake", false},
      {"relative with a folder", L"AppData\\Stonewake", false},
      {"current folder of a drive", L"C:Stonewake", false},
      {"root of the current drive", L"\\Users\\ann\\Stonewake", false},
      {"percent sign", L"C:\\Users\\100%\\Stonewake", false},
      {"variable", L"C:\\Users\\%USERNAME%\\Stonewake", false},
      {"quote", L"C:\\Users\\a\" & rmdir /s /q \"C:\\Users\\Stonewake", false},
      {"line break", L"C:\\Users\\a\r\nrmdir C:\\x\\Stonewake", false},
      {"empty", L"", false},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    const std::optional<std::wstring> parameters = RemovalParameters(c.folder);
    ASSERT_EQ(parameters.has_value(), c.started);
    if (parameters) {
      EXPECT_EQ(*parameters, prefix + c.folder + L"\"");
    }
  }
}

}  // namespace
}  // namespace launcher
