#include "desktop/testing/desktop_checks.h"

#include <windows.h>

#include <objbase.h>
#include <shlobj.h>
#include <shobjidl.h>

#include <gtest/gtest.h>

#include <vector>

#include "core/paths.h"
#include "core/text.h"
#include "core/unique_handle.h"
#include "desktop/shortcuts.h"

namespace launcher::testing {
namespace {

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

// The bytes RegSetValueExW stores for a text: its characters and the
// terminating zero.
Value Text(const std::wstring& text) {
  const auto* bytes = reinterpret_cast<const BYTE*>(text.c_str());
  return {REG_SZ, std::vector<BYTE>(bytes, bytes + (text.size() + 1) * sizeof(wchar_t))};
}

Value Number(DWORD number) {
  const auto* bytes = reinterpret_cast<const BYTE*>(&number);
  return {REG_DWORD, std::vector<BYTE>(bytes, bytes + sizeof(number))};
}

}  // namespace

Shortcut ReadShortcut(const std::wstring& path) {
  Shortcut shortcut;
  ComHolder<IShellLinkW> holder;
  if (FAILED(CoCreateInstance(CLSID_ShellLink, nullptr, CLSCTX_INPROC_SERVER, IID_IShellLinkW,
                              reinterpret_cast<void**>(holder.put())))) {
    return shortcut;
  }
  IShellLinkW* link = holder.get();
  ComHolder<IPersistFile> persist;
  if (SUCCEEDED(link->QueryInterface(IID_IPersistFile, reinterpret_cast<void**>(persist.put())))) {
    IPersistFile* file = persist.get();
    if (SUCCEEDED(file->Load(path.c_str(), STGM_READ))) {
      wchar_t text[MAX_PATH * 2] = {};
      shortcut.read = true;
      if (SUCCEEDED(link->GetPath(text, MAX_PATH * 2, nullptr, SLGP_RAWPATH))) shortcut.target = text;
      if (SUCCEEDED(link->GetWorkingDirectory(text, MAX_PATH * 2))) shortcut.workingFolder = text;
      if (SUCCEEDED(link->GetIconLocation(text, MAX_PATH * 2, &shortcut.iconIndex))) shortcut.iconFile = text;
      if (SUCCEEDED(link->GetDescription(text, MAX_PATH * 2))) shortcut.description = text;
    }
  }
  return shortcut;
}

std::wstring DesktopShortcut() { return JoinPath(KnownFolderPath(FOLDERID_Desktop), L"Stonewake.lnk"); }
std::wstring ProgramsShortcut() { return JoinPath(KnownFolderPath(FOLDERID_Programs), L"Stonewake.lnk"); }

void ExpectShortcutTo(const std::wstring& path, const std::wstring& launcher, const std::wstring& installFolder) {
  SCOPED_TRACE(NarrowLow(path));
  const Shortcut shortcut = ReadShortcut(path);
  ASSERT_TRUE(shortcut.read);
  EXPECT_EQ(shortcut.target, launcher);
  EXPECT_EQ(shortcut.workingFolder, installFolder);
  EXPECT_EQ(shortcut.iconFile, launcher);
  EXPECT_EQ(shortcut.iconIndex, 0);
  EXPECT_EQ(shortcut.description, L"Stonewake");
}

void ExpectUninstallEntry(const std::wstring& launcher, const std::wstring& installFolder,
                          const std::wstring& version) {
  HKEY key = nullptr;
  ASSERT_EQ(RegOpenKeyExW(HKEY_CURRENT_USER, UninstallKey, 0, KEY_READ, &key), ERROR_SUCCESS);
  struct Expected {
    const wchar_t* name;
    Value value;
  };
  const Expected values[] = {
      {L"DisplayName", Text(L"Stonewake")},
      {L"DisplayIcon", Text(launcher)},
      {L"DisplayVersion", Text(version)},
      {L"Publisher", Text(L"Stonewake")},
      {L"InstallLocation", Text(installFolder)},
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

bool UninstallEntryExists() {
  HKEY key = nullptr;
  if (RegOpenKeyExW(HKEY_CURRENT_USER, UninstallKey, 0, KEY_READ, &key) != ERROR_SUCCESS) return false;
  RegCloseKey(key);
  return true;
}

}  // namespace launcher::testing
