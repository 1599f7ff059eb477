// fetch_release BASE_URL [FOLDER]
//
// Takes the release at BASE_URL the way the launcher does: fetches and
// verifies the signed manifest and prints it; with FOLDER, also downloads
// every listed object to its place under FOLDER (as a ".partial" file,
// digest checked). Exits 1 with the launcher's sentence on any failure.
#include <cstdio>
#include <string>

#include "core/paths.h"
#include "core/text.h"
#include "engine/verified_manifest.h"
#include "transfer/object_download.h"

int wmain(int argc, wchar_t** argv) {
  if (argc < 2 || argc > 3) {
    std::fputs("usage: fetch_release BASE_URL [FOLDER]\n", stderr);
    return 2;
  }
  try {
    const std::wstring base = argv[1];
    const auto verified = launcher::FetchVerifiedManifest(base, L"The release could not be verified.");
    const launcher::Manifest& manifest = *verified;
    std::printf("version %s\n", manifest.version.c_str());
    if (!manifest.commit.empty()) std::printf("commit %s\n", manifest.commit.c_str());
    if (manifest.rollback) std::printf("rollback\n");
    for (const launcher::ManifestFile& file : manifest.files) {
      std::printf("file %s %llu %s\n", file.sha256.c_str(), static_cast<unsigned long long>(file.size),
                  file.path.c_str());
    }
    if (argc == 3) {
      launcher::HttpSession session;
      for (const launcher::ManifestFile& file : manifest.files) {
        launcher::FetchChecked(session, base, file, launcher::LocalPathFor(argv[2], file),
                               [](std::uint64_t, std::uint64_t) {});
      }
      std::printf("downloaded %zu files\n", manifest.files.size());
    }
    return 0;
  } catch (const launcher::LauncherError& error) {
    std::printf("error: %s\n", launcher::NarrowLow(error.message).c_str());
    return 1;
  }
}
