#include "engine/launcher_replacement.h"

#include <windows.h>

#include <string>

#include "core/install_layout.h"
#include "core/paths.h"
#include "engine/process_start.h"
#include "files/file_handle.h"
#include "files/folder_walk.h"
#include "files/small_file.h"
#include "transfer/object_download.h"

namespace launcher {
namespace {

// A rename reaches the disk with write-through, but the renamed file's data
// may still sit in the cache. Nothing checks the launcher's own file before
// it is started, so its bytes go to disk before it takes the launcher's
// place; game files need no such care, as every check hashes them again.
void FlushToDisk(const std::wstring& path) {
  FileHandle file(CreateFileW(path.c_str(), GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr, OPEN_EXISTING,
                              FILE_ATTRIBUTE_NORMAL, nullptr));
  if (file) FlushFileBuffers(file.get());
}

}  // namespace

void ReplaceLauncher(std::wstring_view installFolder, const ManifestFile& entry, std::uint64_t done,
                     const ReleaseStatus& status, const PatchProgress& progress, std::wstring_view baseUrl) {
  const std::wstring dest = LocalPathFor(installFolder, entry);
  HttpSession session;
  const std::wstring partial = FetchChecked(session, baseUrl, entry, dest, [&](std::uint64_t written, std::uint64_t) {
    ReportDownload(done + written, status.fetchBytes, progress);
  });
  FlushToDisk(partial);

  const std::wstring old = JoinPath(installFolder, ParkedLauncherName);
  DeleteFileW(old.c_str());

  // The running launcher's own file can be renamed but not replaced or
  // deleted while it runs, so it is moved aside rather than overwritten.
  const bool parked = PathStatusReadable(dest);
  if (parked && !MoveFileReplacing(dest, old)) {
    throw LauncherError{L"The launcher could not be updated. Close other copies of it and try again."};
  }
  if (!MoveFileReplacing(partial, dest)) {
    // Without the move back the install would be left with no launcher
    // that starts. If that fails too, nothing more can be done here.
    if (parked) MoveFileReplacing(old, dest);
    throw LauncherError{L"The launcher could not be updated. Try again."};
  }

  try {
    StartProcess(dest, L"--updated", std::wstring(installFolder), false);
  } catch (const LauncherError&) {
    // A launcher that does not start must not stay in place with the working
    // one parked under the name the next start deletes: the player could
    // not start the launcher again. The working one takes its place back.
    if (parked) MoveFileReplacing(old, dest);
    throw;
  }
}

}  // namespace launcher
