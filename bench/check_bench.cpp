// check_bench check INSTALL RUNS
// check_bench probe INSTALL RUNS [OTHER_INSTALL]
//
// The release check and the version probe, timed on an install folder that
// bench/check.sh prepared. The program digests every file under
// INSTALL\game once (which also warms the page cache), signs a release
// listing them all with the test-only key, serves it from the in-process
// test server, and records version 1.0 in INSTALL\installed.txt, so the
// release is taken and every file matches.
//
// check: RUNS rounds of CheckRelease beside a bare loop that only reads and
//   hashes the same files, in the same order, with CNG the same way
//   (CreateFileW, 65,536-byte ReadFile chunks, one SHA-256 per file). The
//   two alternate within each round. Prints "files", "bytes",
//   "check_seconds" and "loop_seconds" (medians).
// probe: RUNS rounds of ProbeReleaseVersion. Prints "files",
//   "manifest_bytes" and "probe_seconds" (median). With OTHER_INSTALL the
//   release is still made from INSTALL's files, but probed against
//   OTHER_INSTALL (an install folder without those files).
#include <windows.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include "core/paths.h"
#include "core/records.h"
#include "core/text.h"
#include "engine/release_check.h"
#include "engine/version_probe.h"
#include "files/file_handle.h"
#include "release/file_digest.h"
#include "release/sha256.h"
#include "test_support/test_release.h"
#include "test_support/test_server.h"

namespace launcher {
namespace {

using Clock = std::chrono::steady_clock;

[[noreturn]] void Fail(const std::wstring& what) {
  std::printf("error: %ls\n", what.c_str());
  std::exit(1);
}

double SecondsSince(Clock::time_point start) {
  return std::chrono::duration<double>(Clock::now() - start).count();
}

double Median(std::vector<double> values) {
  std::sort(values.begin(), values.end());
  return values[values.size() / 2];
}

// Every file under `folder`, as manifest paths below `prefix`, in a fixed
// (sorted) order.
void ListFiles(const std::wstring& folder, const std::string& prefix, std::vector<std::string>& paths) {
  WIN32_FIND_DATAW found{};
  HANDLE find = FindFirstFileW(JoinPath(folder, L"*").c_str(), &found);
  if (find == INVALID_HANDLE_VALUE) return;
  std::vector<std::pair<std::string, bool>> entries;
  do {
    const std::wstring name = found.cFileName;
    if (name == L"." || name == L"..") continue;
    entries.emplace_back(NarrowLow(name), (found.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) != 0);
  } while (FindNextFileW(find, &found));
  FindClose(find);
  std::sort(entries.begin(), entries.end());
  for (const auto& [name, isFolder] : entries) {
    if (isFolder) {
      ListFiles(JoinPath(folder, WidenAscii(name)), prefix + name + "/", paths);
    } else {
      paths.push_back(prefix + name);
    }
  }
}

// The least a check has to do: read and hash every file.
std::uint64_t ReadAndHash(const std::wstring& install, const std::vector<ManifestFile>& files) {
  std::vector<std::uint8_t> buffer(65536);
  std::uint64_t total = 0;
  for (const ManifestFile& file : files) {
    const std::wstring path = LocalPathFor(install, file);
    FileHandle handle(CreateFileW(path.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                                  OPEN_EXISTING, FILE_FLAG_SEQUENTIAL_SCAN, nullptr));
    if (!handle) Fail(L"cannot open " + path);
    Sha256Hash hash;
    for (;;) {
      DWORD read = 0;
      if (!ReadFile(handle.get(), buffer.data(), static_cast<DWORD>(buffer.size()), &read, nullptr) || read == 0) {
        break;
      }
      hash.Update(std::span(buffer.data(), read));
      total += read;
    }
    hash.Finish();
  }
  return total;
}

int Run(const std::wstring& mode, const std::wstring& source, int runs, const std::wstring& install) {
  std::vector<std::string> paths;
  ListFiles(JoinPath(source, L"game"), "game/", paths);
  if (paths.empty()) Fail(L"no files under " + source + L"\\game");

  std::vector<ManifestFile> files;
  std::uint64_t bytes = 0;
  for (const std::string& path : paths) {
    ManifestFile file{path, {}, 0};
    const std::wstring local = LocalPathFor(source, file);
    file.sha256 = FileSha256(local);
    WIN32_FILE_ATTRIBUTE_DATA data{};
    GetFileAttributesExW(local.c_str(), GetFileExInfoStandard, &data);
    file.size = (std::uint64_t{data.nFileSizeHigh} << 32) | data.nFileSizeLow;
    bytes += file.size;
    files.push_back(std::move(file));
  }
  const std::string manifest = testing::ManifestText("1.0", files);
  testing::TestServer server;
  testing::ServeManifest(server, manifest, testing::SignatureText(manifest));
  HANDLE record = CreateFileW(JoinPath(install, L"installed.txt").c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS,
                              FILE_ATTRIBUTE_NORMAL, nullptr);
  DWORD written = 0;
  WriteFile(record, "1.0\r\n", 5, &written, nullptr);
  CloseHandle(record);

  std::printf("files %zu\n", files.size());
  if (mode == L"check") {
    std::vector<double> check, loop;
    for (int run = 0; run < runs; ++run) {
      // Alternate which goes first, so neither always meets the other's
      // leftovers.
      for (int turn = 0; turn < 2; ++turn) {
        if ((run + turn) % 2 == 0) {
          const auto start = Clock::now();
          const ReleaseStatus status = CheckRelease(install, server.baseUrl());
          check.push_back(SecondsSince(start));
          if (!status.fetch.empty() || status.files.size() != files.size()) Fail(L"the check found differences");
        } else {
          const auto start = Clock::now();
          if (ReadAndHash(install, files) != bytes) Fail(L"the loop read another size");
          loop.push_back(SecondsSince(start));
        }
      }
    }
    std::printf("bytes %llu\ncheck_seconds %.4f\nloop_seconds %.4f\n", static_cast<unsigned long long>(bytes),
                Median(check), Median(loop));
    std::printf("rounds (check, loop):");
    for (std::size_t i = 0; i < check.size(); ++i) std::printf(" %.3f/%.3f", check[i], loop[i]);
    std::printf("\n");
  } else {
    std::vector<double> probe;
    for (int run = 0; run < runs; ++run) {
      const auto start = Clock::now();
      if (ProbeReleaseVersion(install, server.baseUrl()) != L"1.0") Fail(L"the probe named another version");
      probe.push_back(SecondsSince(start));
    }
    std::printf("manifest_bytes %zu\nprobe_seconds %.5f\n", manifest.size(), Median(probe));
  }
  return 0;
}

}  // namespace
}  // namespace launcher

int wmain(int argc, wchar_t** argv) {
  const bool check = argc == 4 && std::wstring(argv[1]) == L"check";
  const bool probe = (argc == 4 || argc == 5) && std::wstring(argv[1]) == L"probe";
  if (!check && !probe) {
    std::printf("usage: check_bench check INSTALL RUNS | probe INSTALL RUNS [OTHER_INSTALL]\n");
    return 2;
  }
  try {
    return launcher::Run(argv[1], argv[2], std::max(1, _wtoi(argv[3])), argc == 5 ? argv[4] : argv[2]);
  } catch (const launcher::LauncherError& error) {
    std::printf("error: %ls\n", error.message.c_str());
    return 1;
  }
}
