#include "release/file_digest.h"

#include <windows.h>

#include <vector>

#include "core/hex.h"
#include "core/paths.h"
#include "core/records.h"
#include "files/file_handle.h"
#include "release/sha256.h"

namespace launcher {
namespace {

constexpr DWORD kChunkBytes = 65536;

}  // namespace

std::string FileSha256(std::wstring_view path) {
  const std::wstring zeroTerminated(path);
  // Without FILE_FLAG_BACKUP_SEMANTICS a folder cannot be opened, which is
  // what makes a folder at a listed path unreadable rather than "empty".
  FileHandle file(CreateFileW(zeroTerminated.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                              OPEN_EXISTING, FILE_FLAG_SEQUENTIAL_SCAN, nullptr));
  if (!file) {
    const DWORD error = GetLastError();
    throw LauncherError{L"Could not read " + LastPathComponent(path) + L".", error};
  }

  Sha256Hash hash;
  std::vector<std::uint8_t> buffer(kChunkBytes);
  for (;;) {
    DWORD read = 0;
    if (!ReadFile(file.get(), buffer.data(), kChunkBytes, &read, nullptr)) break;
    if (read == 0) break;
    hash.Update(std::span(buffer.data(), read));
  }
  return HexLower(hash.Finish());
}

}  // namespace launcher
