#include "engine/patch.h"

#include <set>
#include <string>
#include <vector>

#include "core/install_layout.h"
#include "core/paths.h"
#include "core/text.h"
#include "engine/game_file_downloads.h"
#include "engine/installed_version.h"
#include "engine/launcher_replacement.h"
#include "engine/stale_files.h"
#include "files/folder_walk.h"
#include "files/small_file.h"

namespace launcher {
namespace {

// The lower-cased local path of every file the release lists: what the
// cleanup keeps.
std::set<std::wstring> ListedPaths(std::wstring_view installFolder, const ReleaseStatus& status) {
  std::set<std::wstring> listed;
  for (const ManifestFile& file : status.files) listed.insert(LowerAscii(LocalPathFor(installFolder, file)));
  return listed;
}

// What a patch's downloads leave outside the game folder: a cut launcher
// download beside the launcher, and the record of the ".partial" files,
// which the cleanup before it has taken.
void ForgetDownloadsOutsideTheGame(std::wstring_view installFolder) {
  DeleteFileEvenReadOnly(JoinPath(installFolder, LauncherFileNameWide) + std::wstring(kPartialSuffixWide));
  DeleteFileEvenReadOnly(JoinPath(installFolder, PartialRecordName));
}

}  // namespace

bool ApplyRelease(std::wstring_view installFolder, const ReleaseStatus& status, const PatchProgress& progress,
                  std::wstring_view baseUrl) {
  progress(L"Preparing the update...", 0);
  // A release the check ignored lists no files; applied anyway, its empty
  // keep set would make the cleanup delete every game file.
  if (status.files.empty()) {
    progress(L"Up to date.", 100);
    return false;
  }

  const std::uint64_t done = GameFileDownloads(installFolder, status, progress, baseUrl).Run();

  RemoveStaleFiles(JoinPath(installFolder, GameFolderName), ListedPaths(installFolder, status));
  // The cleanup walks only the game folder; a cut launcher download beside
  // it would otherwise stay for good. A launcher entry still to come
  // downloads it afresh below.
  ForgetDownloadsOutsideTheGame(installFolder);

  WriteInstalledVersion(installFolder, status.version);

  bool replaced = false;
  for (const ManifestFile& entry : status.fetch) {
    if (!IsLauncherEntry(entry)) continue;
    ReplaceLauncher(installFolder, entry, done, status, progress, baseUrl);
    replaced = true;
    break;
  }
  progress(L"Up to date.", 100);
  return replaced;
}

void DiscardAbandonedDownloads(std::wstring_view installFolder, const ReleaseStatus& status) {
  if (status.files.empty() || !status.fetch.empty()) return;
  const std::wstring gameFolder = JoinPath(installFolder, GameFolderName);
  const std::set<std::wstring> listed = ListedPaths(installFolder, status);
  // Collect first, delete after the walk: deleting while a folder is being
  // listed can make the listing skip or repeat entries.
  std::vector<std::wstring> abandoned;
  if (IsExistingFolder(gameFolder)) {
    WalkRegularFiles(gameFolder, [&](const WalkedFile& file) {
      if (file.name.ends_with(kPartialSuffixWide) && !listed.contains(LowerAscii(file.path))) {
        abandoned.push_back(file.path);
      }
    });
  }
  for (const std::wstring& path : abandoned) DeleteFileEvenReadOnly(path);
  // The record goes last: while any ".partial" it names is left, a patch
  // may still go on from it.
  ForgetDownloadsOutsideTheGame(installFolder);
}

}  // namespace launcher
