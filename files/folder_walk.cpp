#include "files/folder_walk.h"

#include <windows.h>

#include <functional>
#include <string_view>

#include "core/paths.h"
#include "core/unique_handle.h"
#include "files/file_handle.h"

namespace launcher {
namespace {

// Attributes of what `path` names, following a symbolic link or junction to
// its target. GetFileAttributesExW describes the link itself, so a link is
// opened (which follows it) and its target's attributes read from the
// handle; a dangling link has no status.
bool FollowedAttributes(const std::wstring& path, DWORD attributes, DWORD& followed) {
  if (!(attributes & FILE_ATTRIBUTE_REPARSE_POINT)) {
    followed = attributes;
    return true;
  }
  FileHandle target(CreateFileW(path.c_str(), FILE_READ_ATTRIBUTES,
                                FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr, OPEN_EXISTING,
                                FILE_FLAG_BACKUP_SEMANTICS, nullptr));
  if (!target) return false;
  FILE_BASIC_INFO info{};
  if (!GetFileInformationByHandleEx(target.get(), FileBasicInfo, &info, sizeof(info))) return false;
  followed = info.FileAttributes;
  return true;
}

bool StatusOf(const std::wstring& path, DWORD& attributes) {
  WIN32_FILE_ATTRIBUTE_DATA data{};
  if (!GetFileAttributesExW(path.c_str(), GetFileExInfoStandard, &data)) return false;
  return FollowedAttributes(path, data.dwFileAttributes, attributes);
}

// Every entry of `folder` but "." and "..", with what the listing says of it.
void ForEachListed(const std::wstring& folder, const std::function<void(const WIN32_FIND_DATAW& found)>& visit) {
  WIN32_FIND_DATAW found{};
  FindHandle find(FindFirstFileExW(JoinPath(folder, L"*").c_str(), FindExInfoBasic, &found, FindExSearchNameMatch,
                                   nullptr, FIND_FIRST_EX_LARGE_FETCH));
  if (!find) return;
  do {
    const std::wstring_view name(found.cFileName);
    if (name == L"." || name == L"..") continue;
    visit(found);
  } while (FindNextFileW(find.get(), &found));
}

void Walk(const std::wstring& folder, const std::function<void(const WalkedFile&)>& visit) {
  // A folder that cannot be listed (no access, removed meanwhile) is passed
  // over: the walk goes on with the rest of the tree.
  ForEachListed(folder, [&](const WIN32_FIND_DATAW& found) {
    const std::wstring name(found.cFileName);
    const std::wstring path = JoinPath(folder, name);
    const DWORD listed = found.dwFileAttributes;
    const bool isLink = listed & FILE_ATTRIBUTE_REPARSE_POINT;
    if (!isLink && (listed & FILE_ATTRIBUTE_DIRECTORY)) {
      Walk(path, visit);
      return;
    }
    DWORD attributes = 0;
    // Links are judged by their target, but a link to a folder is never
    // walked into.
    if (!FollowedAttributes(path, listed, attributes)) return;
    if (attributes & FILE_ATTRIBUTE_DIRECTORY) return;
    // The size comes with the listing: a call per file to read it again
    // doubled the walk of a large game under Wine.
    std::uint64_t size = (std::uint64_t{found.nFileSizeHigh} << 32) | found.nFileSizeLow;
    if (isLink && !FileSizeOf(path, size)) size = 0;
    visit(WalkedFile{path, name, size});
  });
}

}  // namespace

void ForEachFolderEntry(const std::wstring& folder,
                        const std::function<void(const std::wstring& name, std::uint32_t attributes)>& visit) {
  ForEachListed(folder, [&](const WIN32_FIND_DATAW& found) { visit(found.cFileName, found.dwFileAttributes); });
}

void ForEachListedEntry(const std::wstring& folder, const std::function<void(const ListedEntry&)>& visit) {
  ForEachListed(folder, [&](const WIN32_FIND_DATAW& found) {
    visit(ListedEntry{
        found.cFileName, found.dwFileAttributes, (std::uint64_t{found.nFileSizeHigh} << 32) | found.nFileSizeLow,
        (std::uint64_t{found.ftLastWriteTime.dwHighDateTime} << 32) | found.ftLastWriteTime.dwLowDateTime});
  });
}

bool PathStatusReadable(const std::wstring& path) {
  DWORD attributes = 0;
  return StatusOf(path, attributes);
}

bool IsExistingFolder(const std::wstring& path) {
  DWORD attributes = 0;
  return StatusOf(path, attributes) && (attributes & FILE_ATTRIBUTE_DIRECTORY);
}

bool FileSizeOf(const std::wstring& path, std::uint64_t& size) {
  WIN32_FILE_ATTRIBUTE_DATA data{};
  if (!GetFileAttributesExW(path.c_str(), GetFileExInfoStandard, &data)) return false;
  if (!(data.dwFileAttributes & FILE_ATTRIBUTE_REPARSE_POINT)) {
    size = (std::uint64_t{data.nFileSizeHigh} << 32) | data.nFileSizeLow;
    return true;
  }
  FileHandle target(CreateFileW(path.c_str(), FILE_READ_ATTRIBUTES,
                                FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr, OPEN_EXISTING,
                                FILE_FLAG_BACKUP_SEMANTICS, nullptr));
  LARGE_INTEGER length{};
  if (!target || !GetFileSizeEx(target.get(), &length)) return false;
  size = static_cast<std::uint64_t>(length.QuadPart);
  return true;
}

void WalkRegularFiles(const std::wstring& folder, const std::function<void(const WalkedFile&)>& visit) {
  Walk(folder, visit);
}

}  // namespace launcher
