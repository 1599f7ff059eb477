#include "engine/game_file_downloads.h"

#include <windows.h>

#include <deque>
#include <map>
#include <numeric>
#include <optional>
#include <string>

#include "core/install_layout.h"
#include "core/partial_record.h"
#include "core/paths.h"
#include "core/text.h"
#include "engine/game_file_fetch.h"
#include "files/folder_walk.h"
#include "files/small_file.h"
#include "release/file_digest.h"
#include "transfer/object_download.h"

namespace launcher {
namespace {

// True when `dest` already holds the entry's content. A patch retried after
// a failure takes the release status it had, whose fetch list still names
// the files the failed attempt verified and moved into place; they are not
// downloaded again. Only a file of the published size is hashed.
bool AlreadyInPlace(const std::wstring& dest, const ManifestFile& entry) {
  std::uint64_t size = 0;
  if (!FileSizeOf(dest, size) || size != entry.size) return false;
  try {
    return FileSha256(dest) == entry.sha256;
  } catch (const LauncherError&) {
    return false;
  }
}

// Thrown inside a download to stop it once another one has failed.
struct DownloadStopped {};

}  // namespace

GameFileDownloads::GameFileDownloads(std::wstring_view installFolder, const ReleaseStatus& status,
                                     const PatchProgress& progress, std::wstring_view baseUrl)
    : installFolder_(installFolder),
      status_(status),
      progress_(progress),
      baseUrl_(baseUrl),
      stop_(CreateEventW(nullptr, TRUE, FALSE, nullptr)) {
  // A release may list one file twice, in one spelling or in two that
  // differ in letter case only (one file to Windows; the manifest then
  // gives both one digest). Two workers writing one ".partial" would
  // spoil each other's download, so each file goes to one worker, and
  // its repeats count as done along with it.
  std::map<std::string, std::size_t> seen;  // lower-case path -> index into files_
  for (const ManifestFile& entry : status.fetch) {
    if (IsLauncherEntry(entry)) continue;
    const auto [at, added] = seen.emplace(LowerAscii(entry.path), files_.size());
    if (added) {
      files_.push_back({&entry});
    } else {
      ++files_[at->second].listed;
    }
  }
}

std::uint64_t GameFileDownloads::Run() {
  PreparePartials();
  std::deque<HttpSession> sessions;
  for (std::size_t i = 0; i < kSideBySide; ++i) sessions.emplace_back(stop_.get());
  written_.assign(kSideBySide, 0);
  work_.Run(files_.size(), kSideBySide, [&](std::size_t worker, std::size_t index) {
    try {
      Fetch(sessions[worker], worker, files_[index]);
    } catch (...) {
      // Ends the waits of the requests in flight, whose workers then take
      // no further file.
      work_.Stop();
      SetEvent(stop_.get());
      throw;
    }
  });
  return finished_;
}

void GameFileDownloads::Fetch(HttpSession& session, std::size_t worker, const GameFile& file) {
  const ManifestFile& entry = *file.entry;
  const std::wstring dest = LocalPathFor(installFolder_, entry);
  if (!AlreadyInPlace(dest, entry)) {
    std::wstring partial;
    // A stopped download keeps its ".partial" when the next attempt may
    // go on from it.
    const auto stopped = [&] {
      if (!file.resume) DeleteFileW((dest + std::wstring(kPartialSuffixWide)).c_str());
    };
    const auto held = status_.heldSha256.find(entry.path);
    try {
      partial = FetchGameFile(
          session, baseUrl_, entry, dest,
          [&](std::uint64_t written, std::uint64_t) {
            if (work_.Stopped()) throw DownloadStopped{};
            Report(worker, written);
          },
          file.resume, held == status_.heldSha256.end() ? std::string_view() : std::string_view(held->second));
    } catch (const DownloadStopped&) {
      stopped();
      return;
    } catch (const TransferStopped&) {
      stopped();
      return;
    }
    // The one place that moves verified files into place. A running game
    // holds its files without delete sharing, so a file it has open
    // cannot be replaced: that is how a running game shows itself.
    if (!MoveFileReplacing(partial, dest)) {
      throw LauncherError{L"Stonewake is still running. Close it, then update again."};
    }
    placed_.Add(entry, dest);
  }
  Finished(worker, entry.size * file.listed);
}

// A ".partial" its record does not vouch for as the beginning of the object
// now listed goes before any download starts.
void GameFileDownloads::PreparePartials() {
  const std::wstring recordPath = JoinPath(installFolder_, kPartialRecordName);
  const PartialRecord before =
      ParsePartialRecord(ReadSmallFile(recordPath, kMaxPartialRecordBytes).value_or(std::string()));
  std::vector<const ManifestFile*> recorded;
  for (GameFile& file : files_) {
    const ManifestFile& entry = *file.entry;
    if (entry.size < kResumeFromBytes) continue;
    const std::wstring partial = LocalPathFor(installFolder_, entry) + std::wstring(kPartialSuffixWide);
    if (!PartialRecordVouchesFor(before, entry) && !DeleteFileW(partial.c_str()) && PathStatusReadable(partial)) {
      continue;  // another object's bytes that cannot go: never resumed
    }
    recorded.push_back(&entry);
    file.resume = true;
  }
  if (recorded.empty() && before.empty()) return;
  const std::optional<std::string> text = PartialRecordText(recorded);
  if (!text || !WriteFileReplacing(recordPath, *text)) {
    // The old record must not vouch for what this attempt writes.
    DeleteFileEvenReadOnly(recordPath);
    for (GameFile& file : files_) file.resume = false;
  }
}

void GameFileDownloads::Report(std::size_t worker, std::uint64_t written) {
  const std::lock_guard lock(mutex_);
  written_[worker] = written;
  Publish();
}

void GameFileDownloads::Finished(std::size_t worker, std::uint64_t size) {
  const std::lock_guard lock(mutex_);
  written_[worker] = 0;
  finished_ += size;
  Publish();
}

// Reports under the lock, one at a time, with a count that never goes
// back: the bytes of the finished files and of those still arriving.
void GameFileDownloads::Publish() {
  const std::uint64_t done = std::accumulate(written_.begin(), written_.end(), finished_);
  if (done < reported_) return;
  reported_ = done;
  ReportDownload(done, status_.fetchBytes, progress_);
}

}  // namespace launcher
