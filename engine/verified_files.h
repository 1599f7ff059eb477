// The record of verified files ("verified.txt" in the install folder): what
// the check hashed and the patch verified, with what the file system said
// of each file at that moment, so that a start hashes only the files that
// may have changed since, and a rolling share of the others.
#pragma once

#include <cstdint>
#include <mutex>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "core/records.h"
#include "core/verified_record.h"

namespace launcher {

// Each check hashes again the files verified longest ago, in that order,
// until their sizes, each counted as at least kRehashFileBytes, reach this
// many bytes; a file larger than that is hashed alone, at one check in
// ceil(its size / kRehashBytes). So every byte is hashed again within
// ceil(W / kRehashBytes) checks, W the install's bytes with each file
// counted as at least kRehashFileBytes, plus at most two checks per file
// larger than kRehashBytes (one it waits for its turn in, one that stopped
// before it). bench/start.sh under Wine, warm cache: hashing
// ran at about 0.5 GiB/s in large files on an idle machine, so 128 MiB
// adds about 0.25 s to a start, the wait players barely notice behind the
// window's own first frames.
inline constexpr std::uint64_t kRehashBytes = 128 * 1048576;
// A small file costs an open and a close besides its bytes: under Wine
// about what hashing 64 KiB takes (bench/start.sh, 100,000 files of 1 to
// 20 KiB), so the share of small files is bounded by time as well.
inline constexpr std::uint64_t kRehashFileBytes = 64 * 1024;

// A file whose last-write time is this close to the moment its folder was
// listed is hashed again by the next check, whatever its stamp: FAT keeps
// last-write times in 2 s steps (exFAT in 10 ms ones), so a file written
// again within the step it was listed in keeps its stamp.
inline constexpr std::uint64_t kUnsettledWrite = 2 * 10'000'000;  // 100 ns units

// The system's time now, in 100 ns units since 1601.
std::uint64_t FileTimeNow();

// What the check knows and learns of the installed files.
struct FileVerification {
  // In: the record as read; check 0 and no entries when nothing is known,
  // which makes every file be hashed.
  VerifiedRecord known;
  // In: how many bytes of files verified longest ago are hashed again.
  std::uint64_t rehashBytes = kRehashBytes;
  // Out: the record of every listed file found in place, with the stamp
  // the folder listing gave before it was hashed; nothing when the release
  // was not taken (no file was looked at).
  std::optional<VerifiedRecord> verified;
  // Out, for benchmarks: the files hashed (those the listing shows), their
  // bytes, and how many of them only because they were verified longest
  // ago.
  std::uint64_t hashedFiles = 0;
  std::uint64_t hashedBytes = 0;
  std::uint64_t rehashedFiles = 0;
  // Out, for benchmarks: the seconds the folder listings took.
  double listingSeconds = 0;
};

// The record of `installFolder`, or nothing known (check 0, no entries)
// when it is missing, unreadable, larger than its ceiling or damaged. Never
// fails.
VerifiedRecord ReadVerifiedRecord(std::wstring_view installFolder);

// Writes `record` whole beside its place and renames it over. When that
// fails (a read-only folder, a full disk), the old record is removed as
// well, so that it vouches for nothing any more and every start hashes
// everything; returns false then.
bool WriteVerifiedRecord(std::wstring_view installFolder, const VerifiedRecord& record);

// Removes the record: the next check hashes every file ("--verify").
void ForgetVerifiedFiles(std::wstring_view installFolder);

// The stamps of `files` from one listing of each folder they are in, in
// list order: nothing for a file the listing does not show as a regular
// file (missing, a folder, a link, a name that clashes in letter case).
std::vector<std::optional<FileStamp>> ListedStamps(std::wstring_view installFolder,
                                                   const std::vector<ManifestFile>& files);

// Game files a patch verified and moved into place, with their stamps read
// right after the move. Added to from the download workers.
class PlacedFiles {
 public:
  void Add(const ManifestFile& file, const std::wstring& path);
  std::vector<VerifiedEntry> Take();

 private:
  std::mutex mutex_;
  std::vector<VerifiedEntry> entries_;
};

// After a patch put `placed` into place: the record keeps the entries that
// vouch for the release's digest of their path, takes `placed` over them,
// and is written again. Entries of other releases' digests are dropped.
void RecordPlacedFiles(std::wstring_view installFolder, const ReleaseStatus& status, std::vector<VerifiedEntry> placed);

}  // namespace launcher
