#include "files/small_file.h"

#include <windows.h>

#include <algorithm>

#include "core/install_layout.h"
#include "files/file_handle.h"

namespace launcher {
namespace {

bool IsGoneError(DWORD error) { return error == ERROR_FILE_NOT_FOUND || error == ERROR_PATH_NOT_FOUND; }

bool WriteAll(HANDLE file, std::string_view bytes) {
  while (!bytes.empty()) {
    // WriteFile takes a 32-bit count; a record is far below it, but a write
    // is never truncated by the cast.
    const DWORD part = static_cast<DWORD>(std::min<std::size_t>(bytes.size(), 1u << 30));
    DWORD written = 0;
    if (!WriteFile(file, bytes.data(), part, &written, nullptr) || written == 0) return false;
    bytes.remove_prefix(written);
  }
  return true;
}

// Deletes the temporary file of a failed replacement, keeping the error of
// the call that failed for the caller.
bool Abandon(const std::wstring& temporary) {
  const DWORD error = GetLastError();
  DeleteFileW(temporary.c_str());
  SetLastError(error);
  return false;
}

}  // namespace

bool MoveFileReplacing(const std::wstring& from, const std::wstring& target) {
  return MoveFileExW(from.c_str(), target.c_str(), MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH) != 0;
}

bool WriteFileReplacing(const std::wstring& path, std::string_view bytes) {
  const std::wstring temporary = path + std::wstring(kPartialSuffixWide);
  {
    FileHandle file(
        CreateFileW(temporary.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr));
    // Nothing was created, so nothing is deleted: a file of that name that
    // could not be opened is not ours to remove.
    if (!file) return false;
    // The rename below reaches the disk with write-through, the data only
    // when flushed: without it a power cut could leave the new name over
    // empty or stale bytes.
    if (!WriteAll(file.get(), bytes) || !FlushFileBuffers(file.get())) {
      const DWORD error = GetLastError();
      file.reset();
      SetLastError(error);
      return Abandon(temporary);
    }
    // Closing can report a write that the cache held back (a full disk).
    if (!CloseHandle(file.release())) return Abandon(temporary);
  }
  if (!MoveFileReplacing(temporary, path)) return Abandon(temporary);
  return true;
}

std::optional<std::string> ReadSmallFile(const std::wstring& path, std::size_t ceiling) {
  FileHandle file(CreateFileW(path.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                              nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr));
  if (!file) return std::nullopt;
  std::string text;
  char buffer[65536];
  for (;;) {
    DWORD read = 0;
    if (!ReadFile(file.get(), buffer, sizeof(buffer), &read, nullptr)) return std::nullopt;
    if (read == 0) return text;
    // Checked before the bytes are kept: a file far past the ceiling costs
    // no more memory than one at it.
    if (read > ceiling - text.size()) return std::nullopt;
    text.append(buffer, read);
  }
}

bool DeleteFileEvenReadOnly(const std::wstring& path) {
  if (DeleteFileW(path.c_str())) return true;
  if (IsGoneError(GetLastError())) return true;
  const DWORD attributes = GetFileAttributesW(path.c_str());
  if (attributes == INVALID_FILE_ATTRIBUTES) return IsGoneError(GetLastError());
  if (!(attributes & FILE_ATTRIBUTE_READONLY) || (attributes & FILE_ATTRIBUTE_DIRECTORY)) return false;
  SetFileAttributesW(path.c_str(), attributes & ~FILE_ATTRIBUTE_READONLY);
  if (DeleteFileW(path.c_str())) return true;
  // A file in use stays where it is, as it was.
  SetFileAttributesW(path.c_str(), attributes);
  return false;
}

}  // namespace launcher
