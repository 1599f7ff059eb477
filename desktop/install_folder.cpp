#include "desktop/install_folder.h"

#include <windows.h>

#include <filesystem>
#include <system_error>
#include <vector>

#include "core/install_layout.h"
#include "core/paths.h"
#include "core/records.h"
#include "desktop/shortcuts.h"
#include "desktop/system_text.h"
#include "engine/process_start.h"
#include "files/file_handle.h"
#include "files/folder_walk.h"
#include "files/trace.h"

namespace launcher {
namespace {

std::wstring EnvironmentValue(const wchar_t* name) {
  return ReadSystemText(
      [name](wchar_t* buffer, DWORD capacity) { return GetEnvironmentVariableW(name, buffer, capacity); });
}

std::wstring FullPath(const std::wstring& path) {
  const std::wstring full = ReadSystemText(
      [&path](wchar_t* buffer, DWORD capacity) { return GetFullPathNameW(path.c_str(), capacity, buffer, nullptr); });
  return full.empty() ? path : full;
}

bool FileIdentity(const std::wstring& path, BY_HANDLE_FILE_INFORMATION& identity) {
  // No access rights asked for: opening only for the identity succeeds even
  // while another process holds the file without sharing (a running copy).
  FileHandle file(CreateFileW(path.c_str(), 0, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                              OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS, nullptr));
  return file && GetFileInformationByHandle(file.get(), &identity);
}

bool ShouldCopyOver(const std::wstring& ownExecutable, const std::wstring& installedExecutable) {
  if (!PathStatusReadable(installedExecutable)) return true;
  return FileVersion(installedExecutable) <= FileVersion(ownExecutable);
}

}  // namespace

std::wstring InstallFolder() {
  // One full path, decided once: a relative folder would be resolved again
  // by the installed copy, which runs with the install folder as its current
  // folder, and that copy would then take itself for a stray and install
  // itself one level deeper, and so on.
  std::wstring base = EnvironmentValue(L"LOCALAPPDATA");
  if (base.empty()) base = KnownFolderPath(FOLDERID_LocalAppData);
  if (base.empty()) {
    base = ReadSystemText([](wchar_t* buffer, DWORD capacity) { return GetCurrentDirectoryW(capacity, buffer); });
  }
  return FullPath(JoinPath(base, kInstallFolderName));
}

std::wstring OwnExecutablePath() {
  // Unlike the others, this call reports a cut-off name by filling the
  // whole buffer, not by the size it needs.
  std::vector<wchar_t> buffer(MAX_PATH);
  for (;;) {
    const DWORD length = GetModuleFileNameW(nullptr, buffer.data(), static_cast<DWORD>(buffer.size()));
    if (length < buffer.size()) return std::wstring(buffer.data(), length);
    buffer.resize(buffer.size() * 2);
  }
}

std::uint64_t FileVersion(const std::wstring& path) {
  DWORD ignored = 0;
  const DWORD size = GetFileVersionInfoSizeW(path.c_str(), &ignored);
  if (size == 0) return 0;
  std::vector<BYTE> block(size, 0);
  if (!GetFileVersionInfoW(path.c_str(), 0, size, block.data())) return 0;
  VS_FIXEDFILEINFO* fixed = nullptr;
  UINT fixedSize = 0;
  if (!VerQueryValueW(block.data(), L"\\", reinterpret_cast<void**>(&fixed), &fixedSize) || !fixed) return 0;
  return (static_cast<std::uint64_t>(fixed->dwFileVersionMS) << 32) | fixed->dwFileVersionLS;
}

bool IsSameFile(const std::wstring& first, const std::wstring& second) {
  // Equal paths are the same file even when it cannot be opened: the
  // installed copy must never take itself for a stray and start itself
  // again without end.
  const std::wstring firstFull = FullPath(first);
  const std::wstring secondFull = FullPath(second);
  if (CompareStringOrdinal(firstFull.c_str(), static_cast<int>(firstFull.size()), secondFull.c_str(),
                           static_cast<int>(secondFull.size()), TRUE) == CSTR_EQUAL) {
    return true;
  }
  BY_HANDLE_FILE_INFORMATION a{};
  BY_HANDLE_FILE_INFORMATION b{};
  if (!FileIdentity(first, a) || !FileIdentity(second, b)) return false;
  return a.dwVolumeSerialNumber == b.dwVolumeSerialNumber && a.nFileIndexHigh == b.nFileIndexHigh &&
         a.nFileIndexLow == b.nFileIndexLow;
}

int SelfInstall(const std::wstring& ownExecutable, const std::wstring& installFolder,
                const std::wstring& installedExecutable) {
  std::error_code ignored;
  std::filesystem::create_directories(std::filesystem::path(installFolder), ignored);
  // The copy is made beside the installed launcher and renamed over it, so
  // an interrupted copy never leaves a broken launcher in its place. A
  // failed copy leaves whatever launcher is installed; starting it is still
  // the right thing (it may be the running one, in use).
  if (ShouldCopyOver(ownExecutable, installedExecutable)) {
    // Not the ".partial" name: that one is a patch's download of a new
    // launcher, which this stray copy must never overwrite or delete.
    const std::wstring partial = installedExecutable + std::wstring(kSelfInstallSuffix);
    if (!CopyFileW(ownExecutable.c_str(), partial.c_str(), FALSE) ||
        !MoveFileExW(partial.c_str(), installedExecutable.c_str(),
                     MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH)) {
      Trace(L"copying the launcher into the install folder", GetLastError());
      DeleteFileW(partial.c_str());
    }
  }
  try {
    StartProcess(installedExecutable, L"", installFolder, false);
    return 0;
  } catch (const LauncherError& error) {
    TraceCaught(L"starting the installed launcher");
    MessageBoxW(nullptr, error.message.c_str(), L"Stonewake", MB_ICONERROR);
    return 1;
  }
}

}  // namespace launcher
