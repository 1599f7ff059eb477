#include "engine/release_check.h"

#include <algorithm>
#include <string>
#include <vector>

#include "core/chunk_index.h"
#include "core/paths.h"
#include "core/text.h"
#include "engine/installed_version.h"
#include "engine/side_by_side.h"
#include "engine/verified_manifest.h"
#include "engine/version_probe.h"
#include "files/folder_walk.h"
#include "release/file_digest.h"

namespace launcher {

ReleaseStatus CheckRelease(std::wstring_view installFolder, VerifiedManifestMemory& memory, std::wstring_view baseUrl,
                           void* stop) {
  const std::shared_ptr<const Manifest> verified =
      FetchVerifiedManifest(baseUrl, L"The release could not be verified, so nothing was changed.", memory, stop);
  const Manifest& manifest = *verified;
  std::wstring installed = ReadInstalledVersion(installFolder);

  ReleaseStatus status;
  if (!TakesRelease(manifest, installed)) {
    status.version = std::move(installed);
    return status;
  }

  status.version = WidenAscii(manifest.version);
  status.files = manifest.files;
  // Hashed a few files at a time: a game is thousands of small files, and
  // one after another each waits for the disk while a core sits idle. The
  // failure reported is the one of the first file in list order.
  std::vector<char> matches(manifest.files.size(), 0);
  std::vector<std::string> held(manifest.files.size());
  SideBySide().Run(manifest.files.size(), kSideBySide, [&](std::size_t, std::size_t index) {
    const ManifestFile& file = manifest.files[index];
    const std::wstring path = LocalPathFor(installFolder, file);
    // Anything whose status cannot be read (missing, a name the file system
    // refuses, no access to a folder on the way) is simply fetched; what
    // exists but cannot be opened is an error the player has to see.
    if (!PathStatusReadable(path)) return;
    std::string digest = FileSha256(path);
    matches[index] = digest == file.sha256;
    if (!matches[index] && file.size >= kChunkIndexFromBytes) held[index] = std::move(digest);
  });
  for (std::size_t index = 0; index < manifest.files.size(); ++index) {
    if (!matches[index]) {
      status.fetch.push_back(manifest.files[index]);
      status.fetchBytes += manifest.files[index].size;
      if (!held[index].empty()) status.heldSha256[manifest.files[index].path] = std::move(held[index]);
    }
  }
  // The running launcher is replaced last, after every game file is in
  // place, so it must come last in the download order as well.
  std::stable_partition(status.fetch.begin(), status.fetch.end(),
                        [](const ManifestFile& file) { return !IsLauncherEntry(file); });
  return status;
}

ReleaseStatus CheckRelease(std::wstring_view installFolder, std::wstring_view baseUrl) {
  VerifiedManifestMemory fresh;
  return CheckRelease(installFolder, fresh, baseUrl);
}

}  // namespace launcher
