#include "engine/installed_version.h"

#include <windows.h>

#include <string>

#include "core/install_layout.h"
#include "core/paths.h"
#include "core/records.h"
#include "core/text.h"
#include "files/file_handle.h"

namespace launcher {
namespace {

bool IsTrailingBlank(char byte) { return byte == ' ' || (byte >= '\t' && byte <= '\r'); }

}  // namespace

std::wstring ReadInstalledVersion(std::wstring_view installFolder) {
  const std::wstring path = JoinPath(installFolder, InstalledRecordName);
  // Read as bytes rather than through a text-mode stream: a Ctrl-Z (0x1A)
  // would end a text-mode read early, and the version word must come back
  // exactly as it was written. CR LF needs no conversion, since trailing
  // white space (CR included) is dropped anyway.
  // Delete sharing too, so a read at the wrong moment never stops the
  // record from being replaced.
  FileHandle file(CreateFileW(path.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                              nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr));
  if (!file) return {};

  std::string line;
  char buffer[256];
  for (;;) {
    DWORD read = 0;
    if (!ReadFile(file.get(), buffer, sizeof(buffer), &read, nullptr) || read == 0) break;
    const std::string_view chunk(buffer, read);
    const std::size_t end = chunk.find('\n');
    line.append(chunk.substr(0, end));
    if (end != std::string_view::npos) break;
  }
  while (!line.empty() && IsTrailingBlank(line.back())) line.pop_back();
  return WidenAscii(line);
}

void WriteInstalledVersion(std::wstring_view installFolder, std::wstring_view version) {
  const std::wstring path = JoinPath(installFolder, InstalledRecordName);
  const std::wstring partial = path + std::wstring(kPartialSuffixWide);
  // Written beside the record and renamed over it, so a launcher killed or a
  // disk filled half-way never leaves an empty or cut record behind: that
  // would read as nothing installed, and the next check would then take an
  // older release that is no rollback.
  {
    FileHandle file(
        CreateFileW(partial.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr));
    if (!file) throw LauncherError{L"Could not record the installed version.", GetLastError()};
    const std::string bytes = NarrowLow(version) + "\r\n";
    DWORD written = 0;
    const bool complete = WriteFile(file.get(), bytes.data(), static_cast<DWORD>(bytes.size()), &written, nullptr) &&
                          written == bytes.size() && FlushFileBuffers(file.get());
    if (!complete) {
      // Read before the handle is closed and the file deleted: either call
      // may set it again.
      const DWORD error = GetLastError();
      file.reset();
      DeleteFileW(partial.c_str());
      throw LauncherError{L"Could not record the installed version.", error};
    }
  }
  // Replacing fails like opening would: a read-only record, or one another
  // program holds without delete sharing.
  if (!MoveFileExW(partial.c_str(), path.c_str(), MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH)) {
    const DWORD error = GetLastError();
    DeleteFileW(partial.c_str());
    throw LauncherError{L"Could not record the installed version.", error};
  }
}

}  // namespace launcher
