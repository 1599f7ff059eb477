// patch_install BASE_URL INSTALL_FOLDER [--stats] [--verify] [--check-only]
//
// Patches INSTALL_FOLDER to the release at BASE_URL the way the launcher
// does: a release check with the install's record of verified files, as at
// every start of the launcher, then ApplyRelease. Prints "replaced" (a new
// launcher was put in place and started), "complete", or "error: " and the
// sentence, and exits 0, 0 or 1. --verify first forgets the record, as the
// launcher's "--verify" does, so the check hashes every file. --check-only
// stops after the check and prints "fetch" and the manifest path of each
// file it would download. With --stats it also prints the seconds the
// check took and the part of it spent listing folders, the files and bytes
// it hashed (and how many of them only
// because they were verified longest ago), the seconds ApplyRelease took,
// the bytes it fetched and the process's peak working set, for the
// benchmarks.
//
// The kill campaign kills it at random moments; the benchmarks time it.
#include <windows.h>

#include <psapi.h>

#include <chrono>
#include <cstdio>
#include <string>

#include "core/text.h"
#include "engine/patch.h"
#include "engine/release_check.h"
#include "engine/verified_files.h"

int wmain(int argc, wchar_t** argv) {
  bool stats = false;
  bool verify = false;
  bool checkOnly = false;
  bool usage = argc < 3;
  for (int i = 3; i < argc; ++i) {
    const std::wstring option = argv[i];
    if (option == L"--stats") {
      stats = true;
    } else if (option == L"--verify") {
      verify = true;
    } else if (option == L"--check-only") {
      checkOnly = true;
    } else {
      usage = true;
    }
  }
  if (usage) {
    std::fputs("usage: patch_install BASE_URL INSTALL_FOLDER [--stats] [--verify] [--check-only]\n", stderr);
    return 2;
  }
  const std::wstring baseUrl = argv[1];
  const std::wstring installFolder = argv[2];
  try {
    if (verify) launcher::ForgetVerifiedFiles(installFolder);
    const auto checkStart = std::chrono::steady_clock::now();
    launcher::VerifiedManifestMemory memory;
    launcher::FileVerification figures;
    const launcher::ReleaseStatus status = launcher::CheckReleaseRecorded(installFolder, memory, figures, baseUrl);
    const std::chrono::duration<double> checkTook = std::chrono::steady_clock::now() - checkStart;
    const auto checkStats = [&] {
      if (!stats) return;
      std::printf(
          "check_seconds %.6f\nlisting_seconds %.6f\nhashed_files %llu\nhashed_bytes %llu\nrehashed_files %llu\n",
          checkTook.count(), figures.listingSeconds, static_cast<unsigned long long>(figures.hashedFiles),
          static_cast<unsigned long long>(figures.hashedBytes), static_cast<unsigned long long>(figures.rehashedFiles));
    };
    if (checkOnly) {
      for (const launcher::ManifestFile& file : status.fetch) std::printf("fetch %s\n", file.path.c_str());
      checkStats();
      return 0;
    }
    const auto start = std::chrono::steady_clock::now();
    const bool replaced = launcher::ApplyRelease(
        installFolder, status, [](const std::wstring&, std::int32_t) {}, baseUrl);
    const std::chrono::duration<double> took = std::chrono::steady_clock::now() - start;
    std::printf("%s\n", replaced ? "replaced" : "complete");
    checkStats();
    if (stats) {
      PROCESS_MEMORY_COUNTERS memory{};
      memory.cb = sizeof(memory);
      GetProcessMemoryInfo(GetCurrentProcess(), &memory, sizeof(memory));
      std::printf("seconds %.6f\nbytes %llu\npeak_working_set %llu\n", took.count(),
                  static_cast<unsigned long long>(status.fetchBytes),
                  static_cast<unsigned long long>(memory.PeakWorkingSetSize));
    }
    return 0;
  } catch (const launcher::LauncherError& error) {
    std::printf("error: %s\n", launcher::NarrowLow(error.message).c_str());
    return 1;
  }
}
