#include "engine/release_check.h"

#include <algorithm>
#include <chrono>
#include <optional>
#include <set>
#include <string>
#include <string_view>
#include <unordered_map>
#include <utility>
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

namespace {

// Which files need no hashing: each listed file whose stamp and digest
// agree with its entry of the record. The rest are hashed, and so are the
// agreeing files verified longest ago (lowest check, then list order) until
// kRehashBytes is reached, so damage that leaves the stamp alone (a failing
// disk, a program that puts the old time back) is found within a bounded
// number of starts.
std::vector<char> Vouched(const std::vector<ManifestFile>& files, const std::vector<std::optional<FileStamp>>& stamps,
                          const std::unordered_map<std::string_view, const VerifiedEntry*>& known,
                          FileVerification& verification) {
  std::vector<char> vouched(files.size(), 0);
  std::vector<std::pair<std::uint64_t, std::size_t>> oldest;  // (check, index)
  for (std::size_t index = 0; index < files.size(); ++index) {
    const auto found = known.find(files[index].path);
    if (!stamps[index] || found == known.end()) continue;
    const VerifiedEntry& entry = *found->second;
    if (entry.stamp != *stamps[index] || entry.sha256 != files[index].sha256) continue;
    vouched[index] = 1;
    oldest.emplace_back(entry.check, index);
  }
  std::sort(oldest.begin(), oldest.end());
  const std::uint64_t check = verification.known.check + 1;
  const std::uint64_t share = std::max<std::uint64_t>(verification.rehashBytes, 1);
  std::uint64_t budget = 0;
  for (const auto& [verifiedAt, index] : oldest) {
    if (budget >= verification.rehashBytes) break;
    const std::uint64_t cost = std::max(stamps[index]->size, kRehashFileBytes);
    // A file larger than the share is hashed alone, at one start in
    // ceil(cost / share), so a start costs the share on average however
    // large the game's files are; the files behind it wait with it.
    if (cost > share && (budget > 0 || check % ((cost + share - 1) / share) != 0)) break;
    budget += cost;
    vouched[index] = 0;
    ++verification.rehashedFiles;
  }
  return vouched;
}

}  // namespace

ReleaseStatus CheckRelease(std::wstring_view installFolder, VerifiedManifestMemory& memory,
                           FileVerification& verification, std::wstring_view baseUrl, void* stop) {
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
  const std::vector<ManifestFile>& files = manifest.files;
  // Stamps come from the listing before any file is hashed: a file written
  // while it is hashed then carries a newer time than its entry, and is
  // hashed again at the next check.
  const auto listing = std::chrono::steady_clock::now();
  const std::uint64_t listedAt = FileTimeNow();
  const std::vector<std::optional<FileStamp>> stamps = ListedStamps(installFolder, files);
  verification.listingSeconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - listing).count();
  std::unordered_map<std::string_view, const VerifiedEntry*> known;
  for (const VerifiedEntry& entry : verification.known.entries) known.emplace(entry.path, &entry);
  const std::vector<char> vouched = Vouched(files, stamps, known, verification);

  // Hashed a few files at a time: a game is thousands of small files, and
  // one after another each waits for the disk while a core sits idle. The
  // failure reported is the one of the first file in list order.
  std::vector<std::size_t> hashed;
  for (std::size_t index = 0; index < files.size(); ++index) {
    if (!vouched[index]) hashed.push_back(index);
  }
  std::vector<char> matches(vouched.begin(), vouched.end());
  // The digest of a large file that differs names the object it holds,
  // whose chunk index the patch may take to find its chunks.
  std::vector<std::string> held(files.size());
  SideBySide().Run(hashed.size(), kSideBySide, [&](std::size_t, std::size_t at) {
    const ManifestFile& file = files[hashed[at]];
    const std::wstring path = LocalPathFor(installFolder, file);
    // Anything whose status cannot be read (missing, a name the file system
    // refuses, no access to a folder on the way) is simply fetched; what
    // exists but cannot be opened is an error the player has to see.
    if (!PathStatusReadable(path)) return;
    std::string digest = FileSha256(path);
    matches[hashed[at]] = digest == file.sha256;
    if (!matches[hashed[at]] && file.size >= kChunkIndexFromBytes) held[hashed[at]] = std::move(digest);
  });

  VerifiedRecord record;
  record.check = verification.known.check + 1;
  std::set<std::string_view> recorded;
  for (std::size_t index = 0; index < files.size(); ++index) {
    const ManifestFile& file = files[index];
    if (!vouched[index] && stamps[index]) {
      ++verification.hashedFiles;
      verification.hashedBytes += stamps[index]->size;
    }
    if (!matches[index]) {
      status.fetch.push_back(file);
      status.fetchBytes += file.size;
      if (!held[index].empty()) status.heldSha256[file.path] = std::move(held[index]);
      continue;
    }
    if (!stamps[index] || stamps[index]->lastWrite > listedAt - kUnsettledWrite || !recorded.insert(file.path).second) {
      continue;
    }
    const std::uint64_t check = vouched[index] ? known.at(file.path)->check : record.check;
    record.entries.push_back({file.path, file.sha256, *stamps[index], check});
  }
  verification.verified = std::move(record);
  // The running launcher is replaced last, after every game file is in
  // place, so it must come last in the download order as well.
  std::stable_partition(status.fetch.begin(), status.fetch.end(),
                        [](const ManifestFile& file) { return !IsLauncherEntry(file); });
  return status;
}

ReleaseStatus CheckRelease(std::wstring_view installFolder, VerifiedManifestMemory& memory, std::wstring_view baseUrl,
                           void* stop) {
  FileVerification nothingKnown;
  return CheckRelease(installFolder, memory, nothingKnown, baseUrl, stop);
}

ReleaseStatus CheckReleaseRecorded(std::wstring_view installFolder, VerifiedManifestMemory& memory,
                                   FileVerification& verification, std::wstring_view baseUrl, void* stop) {
  verification.known = ReadVerifiedRecord(installFolder);
  ReleaseStatus status = CheckRelease(installFolder, memory, verification, baseUrl, stop);
  if (verification.verified) WriteVerifiedRecord(installFolder, *verification.verified);
  return status;
}

ReleaseStatus CheckReleaseRecorded(std::wstring_view installFolder, VerifiedManifestMemory& memory,
                                   std::wstring_view baseUrl, void* stop) {
  FileVerification verification;
  return CheckReleaseRecorded(installFolder, memory, verification, baseUrl, stop);
}

ReleaseStatus CheckRelease(std::wstring_view installFolder, std::wstring_view baseUrl) {
  VerifiedManifestMemory fresh;
  return CheckRelease(installFolder, fresh, baseUrl);
}

}  // namespace launcher
