#include "engine/release_check.h"

#include <algorithm>

#include "core/paths.h"
#include "core/text.h"
#include "engine/installed_version.h"
#include "engine/verified_manifest.h"
#include "engine/version_probe.h"
#include "files/folder_walk.h"
#include "release/file_digest.h"

namespace launcher {

ReleaseStatus CheckRelease(std::wstring_view installFolder, std::wstring_view baseUrl) {
  const Manifest manifest = FetchVerifiedManifest(baseUrl, L"The release could not be verified, so nothing was changed.");
  std::wstring installed = ReadInstalledVersion(installFolder);

  ReleaseStatus status;
  if (!TakesRelease(manifest, installed)) {
    status.version = std::move(installed);
    return status;
  }

  status.version = WidenAscii(manifest.version);
  status.files = manifest.files;
  for (const ManifestFile& file : manifest.files) {
    const std::wstring path = LocalPathFor(installFolder, file);
    // Anything whose status cannot be read (missing, a name the file system
    // refuses, no access to a folder on the way) is simply fetched; what
    // exists but cannot be opened is an error the player has to see.
    const bool matches = PathStatusReadable(path) && FileSha256(path) == file.sha256;
    if (!matches) {
      status.fetch.push_back(file);
      status.fetchBytes += file.size;
    }
  }
  // The running launcher is replaced last, after every game file is in
  // place, so it must come last in the download order as well.
  std::stable_partition(status.fetch.begin(), status.fetch.end(),
                        [](const ManifestFile& file) { return !IsLauncherEntry(file); });
  return status;
}

}  // namespace launcher
