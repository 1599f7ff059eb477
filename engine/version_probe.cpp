#include "engine/version_probe.h"

#include "core/text.h"
#include "core/version.h"
#include "engine/installed_version.h"
#include "engine/verified_manifest.h"

namespace launcher {

bool TakesRelease(const Manifest& manifest, std::wstring_view installedVersion) {
  // A release of the same version is taken, so a damaged install of the
  // current release is repaired; only an older release that is not marked
  // as a rollback is ignored.
  return installedVersion.empty() || manifest.rollback ||
         !IsOlderVersion(WidenAscii(manifest.version), installedVersion);
}

std::wstring ProbeReleaseVersion(std::wstring_view installFolder, VerifiedManifestMemory& memory,
                                 std::wstring_view baseUrl, void* stop) {
  const std::shared_ptr<const Manifest> manifest =
      FetchVerifiedManifest(baseUrl, L"The release could not be verified.", memory, stop);
  // Read afresh every time, remembered release or not: another process
  // (a second launcher's patch, an uninstall) may have changed it.
  std::wstring installed = ReadInstalledVersion(installFolder);
  if (TakesRelease(*manifest, installed)) return WidenAscii(manifest->version);
  return installed;
}

std::wstring ProbeReleaseVersion(std::wstring_view installFolder, std::wstring_view baseUrl) {
  VerifiedManifestMemory fresh;
  return ProbeReleaseVersion(installFolder, fresh, baseUrl);
}

}  // namespace launcher
