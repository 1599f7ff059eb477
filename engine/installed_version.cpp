#include "engine/installed_version.h"

#include <windows.h>

#include <optional>
#include <string>

#include "core/install_layout.h"
#include "core/manifest.h"
#include "core/paths.h"
#include "core/records.h"
#include "core/text.h"
#include "files/small_file.h"

namespace launcher {
namespace {

// The record holds a version word of a manifest and a line end, so it is
// never longer than the largest manifest the launcher accepts.
constexpr std::size_t kMaxInstalledRecordBytes = kMaxManifestBytes;

bool IsTrailingBlank(char byte) { return byte == ' ' || (byte >= '\t' && byte <= '\r'); }

}  // namespace

std::wstring ReadInstalledVersion(std::wstring_view installFolder) {
  // Read as bytes rather than through a text-mode stream: a Ctrl-Z (0x1A)
  // would end a text-mode read early, and the version word must come back
  // exactly as it was written. CR LF needs no conversion, since trailing
  // white space (CR included) is dropped anyway.
  const std::optional<std::string> text =
      ReadSmallFile(JoinPath(installFolder, InstalledRecordName), kMaxInstalledRecordBytes);
  if (!text) return {};
  std::string line = text->substr(0, text->find('\n'));
  while (!line.empty() && IsTrailingBlank(line.back())) line.pop_back();
  return WidenAscii(line);
}

void WriteInstalledVersion(std::wstring_view installFolder, std::wstring_view version) {
  // Written beside the record and renamed over it, so a launcher killed or a
  // disk filled half-way never leaves an empty or cut record behind: that
  // would read as nothing installed, and the next check would then take an
  // older release that is no rollback. Replacing fails like opening would:
  // a read-only record, or one another program holds without delete sharing.
  if (!WriteFileReplacing(JoinPath(installFolder, InstalledRecordName), NarrowLow(version) + "\r\n")) {
    throw LauncherError{L"Could not record the installed version.", GetLastError()};
  }
}

}  // namespace launcher
