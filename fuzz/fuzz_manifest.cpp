// Feeds arbitrary bytes to the manifest parser: it must either return a
// manifest that keeps every promise of the grammar and the install-path rule
// or throw LauncherError.
#include <cstddef>
#include <cstdint>
#include <cstdlib>

#include "core/manifest.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  try {
    const launcher::Manifest manifest = launcher::ParseManifest(std::span(data, size));
    if (manifest.version.empty() || manifest.files.empty()) std::abort();
    for (const launcher::ManifestFile& file : manifest.files) {
      if (launcher::CheckInstallPath(file.path).fault != launcher::PathFault::None || file.sha256.size() != 64) {
        std::abort();
      }
    }
  } catch (const launcher::LauncherError&) {
  }
  return 0;
}
