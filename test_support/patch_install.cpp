// patch_install BASE_URL INSTALL_FOLDER [--stats]
//
// Patches INSTALL_FOLDER to the release at BASE_URL the way the launcher's
// patch worker does: a release check, then ApplyRelease. Prints "replaced"
// (a new launcher was put in place and started), "complete", or "error: "
// and the sentence, and exits 0, 0 or 1. With --stats it also prints the
// seconds ApplyRelease took, the bytes it fetched and the process's peak
// working set, and the seconds the release check took before it, for the
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

int wmain(int argc, wchar_t** argv) {
  const bool stats = argc == 4 && std::wstring(argv[3]) == L"--stats";
  if (argc != 3 && !stats) {
    std::fputs("usage: patch_install BASE_URL INSTALL_FOLDER [--stats]\n", stderr);
    return 2;
  }
  const std::wstring baseUrl = argv[1];
  const std::wstring installFolder = argv[2];
  try {
    const auto checkStart = std::chrono::steady_clock::now();
    const launcher::ReleaseStatus status = launcher::CheckRelease(installFolder, baseUrl);
    const std::chrono::duration<double> checkTook = std::chrono::steady_clock::now() - checkStart;
    const auto start = std::chrono::steady_clock::now();
    const bool replaced = launcher::ApplyRelease(
        installFolder, status, [](const std::wstring&, std::int32_t) {}, baseUrl);
    const std::chrono::duration<double> took = std::chrono::steady_clock::now() - start;
    std::printf("%s\n", replaced ? "replaced" : "complete");
    if (stats) {
      PROCESS_MEMORY_COUNTERS memory{};
      memory.cb = sizeof(memory);
      GetProcessMemoryInfo(GetCurrentProcess(), &memory, sizeof(memory));
      std::printf("check_seconds %.6f\nseconds %.6f\nbytes %llu\npeak_working_set %llu\n", checkTook.count(), took.count(),
                  static_cast<unsigned long long>(status.fetchBytes),
                  static_cast<unsigned long long>(memory.PeakWorkingSetSize));
    }
    return 0;
  } catch (const launcher::LauncherError& error) {
    std::printf("error: %s\n", launcher::NarrowLow(error.message).c_str());
    return 1;
  }
}
