#include "desktop/uninstall.h"

#include <windows.h>

#include <shellapi.h>

#include <string_view>

#include "core/install_layout.h"
#include "core/paths.h"
#include "core/unique_handle.h"
#include "desktop/running_launcher.h"
#include "desktop/shortcuts.h"
#include "desktop/system_text.h"
#include "files/file_handle.h"
#include "files/folder_walk.h"
#include "files/small_file.h"
#include "files/trace.h"
#include "resources/launcher_version.h"

namespace launcher {
namespace {

using RegistryKey = UniqueHandle<HKEY, &RegCloseKey>;

constexpr wchar_t kUninstallKey[] = L"Software\\Microsoft\\Windows\\CurrentVersion\\Uninstall\\Stonewake";

void SetText(HKEY key, const wchar_t* name, const std::wstring& text) {
  // The data includes the terminating zero.
  RegSetValueExW(key, name, 0, REG_SZ, reinterpret_cast<const BYTE*>(text.c_str()),
                 static_cast<DWORD>((text.size() + 1) * sizeof(wchar_t)));
}

void SetNumber(HKEY key, const wchar_t* name, DWORD number) {
  RegSetValueExW(key, name, 0, REG_DWORD, reinterpret_cast<const BYTE*>(&number), sizeof(number));
}

bool IsSeparator(wchar_t c) { return c == L'\\' || c == L'/'; }

// "C:\..." or a UNC path "\\server\share\...": nothing in it depends on the
// current folder or the current drive.
bool IsFullPath(std::wstring_view path) {
  const bool drive = path.size() >= 3 &&
                     ((path[0] >= L'A' && path[0] <= L'Z') || (path[0] >= L'a' && path[0] <= L'z')) &&
                     path[1] == L':' && IsSeparator(path[2]);
  const bool unc = path.size() >= 3 && IsSeparator(path[0]) && IsSeparator(path[1]) && !IsSeparator(path[2]);
  return drive || unc;
}

std::wstring SystemFolder() {
  return ReadSystemText([](wchar_t* buffer, DWORD capacity) { return GetSystemDirectoryW(buffer, capacity); });
}

// Deletes what `path` names, with everything in it, as far as it can. A link
// (junction or symbolic link) is removed itself and never walked into, so
// nothing outside the folder is touched. Read-only files go too.
void RemoveEntry(const std::wstring& path, DWORD attributes) {
  if (!(attributes & FILE_ATTRIBUTE_DIRECTORY)) {
    DeleteFileEvenReadOnly(path);
    return;
  }
  // RemoveDirectoryW refuses a read-only folder as DeleteFileW does a file.
  if (attributes & FILE_ATTRIBUTE_READONLY) SetFileAttributesW(path.c_str(), attributes & ~FILE_ATTRIBUTE_READONLY);
  if (!(attributes & FILE_ATTRIBUTE_REPARSE_POINT)) {
    ForEachFolderEntry(path, [&](const std::wstring& name, std::uint32_t entryAttributes) {
      RemoveEntry(JoinPath(path, name), entryAttributes);
    });
  }
  RemoveDirectoryW(path.c_str());
}

void RemoveFolder(const std::wstring& folder) {
  const DWORD attributes = GetFileAttributesW(folder.c_str());
  if (attributes != INVALID_FILE_ATTRIBUTES) RemoveEntry(folder, attributes);
}

// Says that a windowed launcher runs (a patch may be in progress) and
// brings its window to the front. True when one runs: nothing may be
// removed under it.
bool RefuseWhileALauncherRuns() {
  if (!LauncherIsRunning()) return false;
  MessageBoxW(nullptr, L"Stonewake is open. Close it, then remove it again.", L"Stonewake", MB_ICONINFORMATION);
  BringLauncherWindowToFront();
  return true;
}

}  // namespace

void WriteUninstallEntry(const std::wstring& launcherExecutable, const std::wstring& installFolder) try {
  RegistryKey key;
  if (const LSTATUS status =
          RegCreateKeyExW(HKEY_CURRENT_USER, kUninstallKey, 0, nullptr, 0, KEY_WRITE, nullptr, key.put(), nullptr);
      status != ERROR_SUCCESS) {
    Trace(L"opening the uninstall entry", static_cast<std::uint32_t>(status));
    return;
  }
  SetText(key.get(), L"DisplayName", L"Stonewake");
  SetText(key.get(), L"DisplayIcon", launcherExecutable);
  SetText(key.get(), L"DisplayVersion", LauncherVersionText);
  SetText(key.get(), L"Publisher", L"Stonewake");
  SetText(key.get(), L"InstallLocation", installFolder);
  SetText(key.get(), L"UninstallString", L"\"" + launcherExecutable + L"\" --uninstall");
  SetNumber(key.get(), L"NoModify", 1);
  SetNumber(key.get(), L"NoRepair", 1);
} catch (...) {
  // Upkeep at every start: nothing that goes wrong here may end the program.
  TraceCaught(L"writing the uninstall entry");
}

std::optional<RemovalCommand> PlanRemoval(const std::wstring& installFolder, const std::wstring& systemFolder) {
  if (!IsFullPath(installFolder) || systemFolder.empty()) return std::nullopt;
  // A quote would end the quoted path, and a control character (a line
  // break) would end the command.
  for (const wchar_t c : installFolder) {
    if (c == L'"' || c < L' ') return std::nullopt;
  }
  // "/d": cmd runs the user's AutoRun command ("Command Processor" key)
  // first otherwise, and a common one ("cd /d %USERPROFILE%") changes the
  // current folder that names the install folder below. "/v:off": with
  // delayed expansion switched on in the user's registry, a '!' in the path
  // would be expanded too.
  const std::wstring command = L"/d /v:off /c timeout /t 2 /nobreak >nul & rmdir /s /q \"";
  if (installFolder.find(L'%') == std::wstring::npos) {
    // cmd runs in the system folder: a command whose current folder is the
    // install folder would keep that folder from being removed.
    return RemovalCommand{command + installFolder + L"\"", systemFolder};
  }
  // The folder's path is handed to cmd as its current folder, which it does
  // not expand; only the folder's own name is in the command.
  const std::size_t cut = installFolder.find_last_of(L"\\/");
  const std::wstring parent = installFolder.substr(0, cut);
  const std::wstring name = installFolder.substr(cut + 1);
  if (name.empty() || name.find(L'%') != std::wstring::npos || !IsFullPath(parent + L"\\") ||
      IsSeparator(parent[0])) {
    return std::nullopt;
  }
  return RemovalCommand{command + name + L"\"", parent};
}

int Uninstall(const std::wstring& installFolder) {
  if (RefuseWhileALauncherRuns()) return 1;
  const std::wstring systemFolder = SystemFolder();
  const std::optional<RemovalCommand> removal = PlanRemoval(installFolder, systemFolder);
  if (!removal) {
    const std::wstring text = L"Stonewake cannot remove its folder by itself, so nothing was removed:\n" + installFolder;
    MessageBoxW(nullptr, text.c_str(), L"Stonewake", MB_ICONERROR);
    return 1;
  }
  if (MessageBoxW(nullptr, L"Remove Stonewake from this PC?", L"Stonewake", MB_YESNO | MB_ICONQUESTION) != IDYES) {
    return 0;
  }
  // The question may have stood open for a while: a launcher started
  // meanwhile would have its game folder and shortcuts deleted under it.
  if (RefuseWhileALauncherRuns()) return 1;
  for (const std::wstring& shortcut : ShortcutPaths()) DeleteFileW(shortcut.c_str());
  RegDeleteKeyW(HKEY_CURRENT_USER, kUninstallKey);
  RemoveFolder(JoinPath(installFolder, GameFolderName));
  const HINSTANCE started = ShellExecuteW(nullptr, L"open", JoinPath(systemFolder, L"cmd.exe").c_str(),
                                          removal->parameters.c_str(), removal->workingFolder.c_str(), SW_HIDE);
  // ShellExecuteW reports success as a value above 32.
  return reinterpret_cast<INT_PTR>(started) > 32 ? 0 : 1;
}

}  // namespace launcher
