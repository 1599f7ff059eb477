// probe_bench probes BASE_URL INSTALL SECONDS MODE
// probe_bench burst BASE_URL INSTALL COUNT MODE
// probe_bench check BASE_URL INSTALL RUNS
// probe_bench once BASE_URL INSTALL
// probe_bench size INSTALL
//
// The launcher's own probe and check code against a served release
// (bench/probe.sh).
//
// probes: one ProbeReleaseVersion a second for SECONDS seconds, as an open
//   launcher's timer does. MODE "fresh" remembers nothing (every probe
//   fetches the manifest and its signature, verifies and parses); MODE
//   "remembered" keeps one VerifiedManifestMemory for the whole run, as the
//   window does. One line per probe: "probe UNIX_SECONDS ANSWER WALL_MS",
//   then "wall_ms" (the median of all probes but the first).
// burst: one probe, then COUNT more back to back, MODE as above; "wall_ms"
//   per probe. The script reads the CPU time of a burst from outside (Wine's
//   GetProcessTimes reports none, and its /proc/self is the Wine server's),
//   as the difference to a burst of 0.
// check: RUNS rounds of CheckRelease with nothing remembered, and of
//   CheckRelease right after a probe through the same memory (what the
//   window's check does after a probe saw a change): "check_fresh_seconds",
//   "check_after_probe_seconds" (medians) and "files".
// once: one probe in a fresh process, as at a launcher's start: "seconds",
//   "result" (the answer) and "peak_working_set" (bytes, the whole process).
// size: InstallSizeText of INSTALL: "seconds", "result" (the text) and
//   "peak_working_set".
#include <windows.h>

#include <psapi.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <thread>
#include <vector>

#include "engine/install_size.h"
#include "engine/release_check.h"
#include "engine/verified_manifest.h"
#include "engine/version_probe.h"

namespace launcher {
namespace {

using Clock = std::chrono::steady_clock;

double Median(std::vector<double> values) {
  if (values.empty()) return 0;
  std::sort(values.begin(), values.end());
  return values[values.size() / 2];
}

double UnixSeconds() {
  FILETIME now;
  GetSystemTimeAsFileTime(&now);
  const std::uint64_t ticks = (static_cast<std::uint64_t>(now.dwHighDateTime) << 32) | now.dwLowDateTime;
  return static_cast<double>(ticks - 116444736000000000ull) / 1e7;
}

int Probes(const std::wstring& base, const std::wstring& install, int seconds, bool remember) {
  VerifiedManifestMemory memory;
  std::vector<double> wall;
  const auto start = Clock::now();
  for (int i = 0; i < seconds; ++i) {
    std::this_thread::sleep_until(start + std::chrono::seconds(i));
    const auto wallBefore = Clock::now();
    std::wstring answer;
    try {
      answer = remember ? ProbeReleaseVersion(install, memory, base) : ProbeReleaseVersion(install, base);
    } catch (const LauncherError& error) {
      answer = L"error:" + error.message;
    }
    const double wallMs = std::chrono::duration<double, std::milli>(Clock::now() - wallBefore).count();
    for (wchar_t& c : answer) {
      if (c == L' ') c = L'_';
    }
    std::printf("probe %.3f %ls %.3f\n", UnixSeconds(), answer.c_str(), wallMs);
    std::fflush(stdout);
    if (i > 0) wall.push_back(wallMs);
  }
  std::printf("wall_ms %.3f\n", Median(wall));
  return 0;
}

int Burst(const std::wstring& base, const std::wstring& install, int count, bool remember) {
  VerifiedManifestMemory memory;
  const auto probe = [&] {
    return remember ? ProbeReleaseVersion(install, memory, base) : ProbeReleaseVersion(install, base);
  };
  probe();
  const auto wallBefore = Clock::now();
  for (int i = 0; i < count; ++i) probe();
  const double wallMs = std::chrono::duration<double, std::milli>(Clock::now() - wallBefore).count();
  if (count > 0) std::printf("wall_ms %.4f\n", wallMs / count);
  return 0;
}

int Checks(const std::wstring& base, const std::wstring& install, int runs) {
  std::vector<double> fresh, afterProbe;
  std::size_t files = 0;
  for (int i = 0; i < runs; ++i) {
    auto start = Clock::now();
    files = CheckRelease(install, base).files.size();
    fresh.push_back(std::chrono::duration<double>(Clock::now() - start).count());
    VerifiedManifestMemory memory;
    ProbeReleaseVersion(install, memory, base);
    start = Clock::now();
    CheckRelease(install, memory, base);
    afterProbe.push_back(std::chrono::duration<double>(Clock::now() - start).count());
  }
  std::printf("files %zu\ncheck_fresh_seconds %.4f\ncheck_after_probe_seconds %.4f\n", files, Median(fresh),
              Median(afterProbe));
  return 0;
}

unsigned long long PeakWorkingSet() {
  PROCESS_MEMORY_COUNTERS memory{};
  memory.cb = sizeof(memory);
  GetProcessMemoryInfo(GetCurrentProcess(), &memory, sizeof(memory));
  return memory.PeakWorkingSetSize;
}

template <typename Call>
int Once(Call call) {
  const auto start = Clock::now();
  const std::wstring result = call();
  const double seconds = std::chrono::duration<double>(Clock::now() - start).count();
  std::printf("seconds %.6f\nresult %ls\npeak_working_set %llu\n", seconds, result.c_str(), PeakWorkingSet());
  return 0;
}

}  // namespace
}  // namespace launcher

int wmain(int argc, wchar_t** argv) {
  try {
    const std::wstring what = argc > 1 ? argv[1] : L"";
    if (what == L"probes" && argc == 6) {
      return launcher::Probes(argv[2], argv[3], _wtoi(argv[4]), std::wstring(argv[5]) == L"remembered");
    }
    if (what == L"burst" && argc == 6) {
      return launcher::Burst(argv[2], argv[3], _wtoi(argv[4]), std::wstring(argv[5]) == L"remembered");
    }
    if (what == L"once" && argc == 4) {
      return launcher::Once([&] { return launcher::ProbeReleaseVersion(argv[3], argv[2]); });
    }
    if (what == L"size" && argc == 3) return launcher::Once([&] { return launcher::InstallSizeText(argv[2]); });
    if (what == L"check" && argc == 5) return launcher::Checks(argv[2], argv[3], _wtoi(argv[4]));
  } catch (const launcher::LauncherError& error) {
    std::printf("error: %ls\n", error.message.c_str());
    return 1;
  }
  std::fputs("usage: probe_bench probes BASE_URL INSTALL SECONDS fresh|remembered\n"
             "       probe_bench burst BASE_URL INSTALL COUNT fresh|remembered\n"
             "       probe_bench check BASE_URL INSTALL RUNS\n"
             "       probe_bench once BASE_URL INSTALL\n"
             "       probe_bench size INSTALL\n",
             stderr);
  return 2;
}
