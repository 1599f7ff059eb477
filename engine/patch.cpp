#include "engine/patch.h"

#include <windows.h>

#include <deque>
#include <map>
#include <mutex>
#include <numeric>
#include <set>
#include <string>
#include <vector>

#include "core/install_layout.h"
#include "core/paths.h"
#include "core/text.h"
#include "engine/game_file_fetch.h"
#include "engine/installed_version.h"
#include "engine/process_start.h"
#include "engine/side_by_side.h"
#include "engine/stale_files.h"
#include "files/file_handle.h"
#include "files/folder_walk.h"
#include "release/file_digest.h"

namespace launcher {
namespace {

// Replaces `target` in one step; the call returns once the move is on disk.
bool MoveIntoPlace(const std::wstring& from, const std::wstring& target) {
  return MoveFileExW(from.c_str(), target.c_str(), MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH) != 0;
}

// A rename reaches the disk with write-through, but the renamed file's data
// may still sit in the cache. Nothing checks the launcher's own file before
// it is started, so its bytes go to disk before it takes the launcher's
// place; game files need no such care, as every check hashes them again.
void FlushToDisk(const std::wstring& path) {
  FileHandle file(CreateFileW(path.c_str(), GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr, OPEN_EXISTING,
                              FILE_ATTRIBUTE_NORMAL, nullptr));
  if (file) FlushFileBuffers(file.get());
}

void ReplaceLauncher(std::wstring_view installFolder, const ManifestFile& entry, std::uint64_t done,
                     const ReleaseStatus& status, const PatchProgress& progress, std::wstring_view baseUrl) {
  const std::wstring dest = LocalPathFor(installFolder, entry);
  const std::wstring partial = FetchChecked(baseUrl, entry, dest, done, status.fetchBytes, progress);
  FlushToDisk(partial);

  const std::wstring old = JoinPath(installFolder, ParkedLauncherName);
  DeleteFileW(old.c_str());

  // The running launcher's own file can be renamed but not replaced or
  // deleted while it runs, so it is moved aside rather than overwritten.
  const bool parked = PathStatusReadable(dest);
  if (parked && !MoveIntoPlace(dest, old)) {
    throw LauncherError{L"The launcher could not be updated. Close other copies of it and try again."};
  }
  if (!MoveIntoPlace(partial, dest)) {
    // Without the move back the install would be left with no launcher
    // that starts. If that fails too, nothing more can be done here.
    if (parked) MoveIntoPlace(old, dest);
    throw LauncherError{L"The launcher could not be updated. Try again."};
  }

  try {
    StartProcess(dest, L"--updated", std::wstring(installFolder), false);
  } catch (const LauncherError&) {
    // A launcher that does not start must not stay in place with the working
    // one parked under the name the next start deletes: the player could
    // not start the launcher again. The working one takes its place back.
    if (parked) MoveIntoPlace(old, dest);
    throw;
  }
}

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

// One game file to download, and how often the release lists it.
struct GameFile {
  const ManifestFile* entry;
  std::uint64_t listed = 1;
  bool resume = false;  // its ".partial", if any, begins this very object
};

// Downloads of at least this many bytes go on from a ".partial" left by an
// interrupted attempt; smaller ones start again from their first byte,
// since a range request answered with anything but the rest costs a
// second request. bench/resume.sh, 50 ms round trip at 3 MB/s: one more
// request took 0.056 s; 128 KiB coming again 0.77 of that, 256 KiB 1.76.
constexpr std::uint64_t kResumeFromBytes = 256 * 1024;

// The record of what the ".partial" files of an install hold: one line
// "<sha256> <size> <manifest path>" per download that may be resumed,
// written whole (beside itself, then renamed over) before any of them is
// started. A ".partial" is resumed only when the record of the attempt
// that wrote it names the object the release now lists; a kill at any
// moment leaves the previous record or the new one, and every ".partial"
// either begins the object its record names or is gone.
constexpr std::size_t kMaxPartialRecordBytes = 16 * 1024 * 1024;

std::wstring PartialRecordPath(std::wstring_view installFolder) {
  return JoinPath(installFolder, PartialRecordName);
}

std::string RecordLine(const ManifestFile& entry) {
  return entry.sha256 + " " + std::to_string(entry.size) + " " + entry.path + "\n";
}

// The record's lines keyed by the lower-case manifest path; empty when
// there is none or it cannot be read.
std::map<std::string, std::string> ReadPartialRecord(std::wstring_view installFolder) {
  std::map<std::string, std::string> lines;
  FileHandle file(CreateFileW(PartialRecordPath(installFolder).c_str(), GENERIC_READ,
                              FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr, OPEN_EXISTING,
                              FILE_ATTRIBUTE_NORMAL, nullptr));
  if (!file) return lines;
  std::string text;
  char buffer[65536];
  for (DWORD read = 0; ReadFile(file.get(), buffer, sizeof(buffer), &read, nullptr) && read > 0;) {
    text.append(buffer, read);
    if (text.size() > kMaxPartialRecordBytes) return {};
  }
  for (std::size_t start = 0; start < text.size();) {
    const std::size_t end = text.find('\n', start);
    if (end == std::string::npos) break;  // a last line without its end was cut
    const std::string line = text.substr(start, end + 1 - start);
    const std::size_t second = line.find(' ', line.find(' ') + 1);
    if (second != std::string::npos) lines[LowerAscii(line.substr(second + 1, line.size() - second - 2))] = line;
    start = end + 1;
  }
  return lines;
}

bool WritePartialRecord(std::wstring_view installFolder, const std::string& text) {
  const std::wstring path = PartialRecordPath(installFolder);
  const std::wstring next = path + std::wstring(kPartialSuffixWide);
  {
    FileHandle file(CreateFileW(next.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr));
    if (!file) return false;
    DWORD written = 0;
    if (!WriteFile(file.get(), text.data(), static_cast<DWORD>(text.size()), &written, nullptr) ||
        written != text.size()) {
      file.reset();
      DeleteFileW(next.c_str());
      return false;
    }
  }
  if (MoveFileExW(next.c_str(), path.c_str(), MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH)) return true;
  DeleteFileW(next.c_str());
  return false;
}

// Downloads the game files of a patch side by side, each worker on an HTTP
// session of its own (its connection kept from file to file), and moves
// every verified file into place. The first failure ends it: the downloads
// still running stop at once (a worker waiting for a connection, headers or
// a body gives up its request), their ".partial" files go unless the next
// attempt may go on from them, the files already verified stay in place,
// and the failure is thrown as it would have been alone.
class GameFileDownloads {
 public:
  GameFileDownloads(std::wstring_view installFolder, const ReleaseStatus& status, const PatchProgress& progress,
                    std::wstring_view baseUrl)
      : installFolder_(installFolder), status_(status), progress_(progress), baseUrl_(baseUrl) {
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

  // Returns the bytes of every game file now in place.
  std::uint64_t Run() {
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

 private:
  void Fetch(HttpSession& session, std::size_t worker, const GameFile& file) {
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
      if (!MoveIntoPlace(partial, dest)) {
        throw LauncherError{L"Stonewake is still running. Close it, then update again."};
      }
    }
    Finished(worker, entry.size * file.listed);
  }

  // Decides which downloads may go on from their ".partial" and records it
  // before any starts: a ".partial" its record does not vouch for as the
  // beginning of the object now listed goes first. Without a record that
  // can be written, nothing is resumed.
  void PreparePartials() {
    const std::map<std::string, std::string> before = ReadPartialRecord(installFolder_);
    std::string record;
    for (GameFile& file : files_) {
      const ManifestFile& entry = *file.entry;
      if (entry.size < kResumeFromBytes) continue;
      const std::wstring partial = LocalPathFor(installFolder_, entry) + std::wstring(kPartialSuffixWide);
      const std::string line = RecordLine(entry);
      // The same object at the same file, in whatever letter case.
      const std::string identity = entry.sha256 + " " + std::to_string(entry.size) + " ";
      const auto found = before.find(LowerAscii(entry.path));
      if ((found == before.end() || !found->second.starts_with(identity)) && !DeleteFileW(partial.c_str()) &&
          PathStatusReadable(partial)) {
        continue;  // another object's bytes that cannot go: never resumed
      }
      record += line;
      file.resume = true;
    }
    if (record.empty() && before.empty()) return;
    if (!WritePartialRecord(installFolder_, record)) {
      // The old record must not vouch for what this attempt writes.
      DeleteFileW(PartialRecordPath(installFolder_).c_str());
      for (GameFile& file : files_) file.resume = false;
    }
  }

  void Report(std::size_t worker, std::uint64_t written) {
    const std::lock_guard lock(mutex_);
    written_[worker] = written;
    Publish();
  }

  void Finished(std::size_t worker, std::uint64_t size) {
    const std::lock_guard lock(mutex_);
    written_[worker] = 0;
    finished_ += size;
    Publish();
  }

  // Reports under the lock, one at a time, with a count that never goes
  // back: the bytes of the finished files and of those still arriving.
  void Publish() {
    const std::uint64_t done = std::accumulate(written_.begin(), written_.end(), finished_);
    if (done < reported_) return;
    reported_ = done;
    ReportDownload(done, status_.fetchBytes, progress_);
  }

  const std::wstring_view installFolder_;
  const ReleaseStatus& status_;
  const PatchProgress& progress_;
  const std::wstring_view baseUrl_;
  std::vector<GameFile> files_;
  SideBySide work_;
  // Set by the first failure; every request of the patch watches it.
  UniqueHandle<HANDLE, &CloseHandle> stop_{CreateEventW(nullptr, TRUE, FALSE, nullptr)};
  std::mutex mutex_;
  std::vector<std::uint64_t> written_;  // per worker, of the file it downloads
  std::uint64_t finished_ = 0;
  std::uint64_t reported_ = 0;
};

}  // namespace

bool ApplyRelease(std::wstring_view installFolder, const ReleaseStatus& status, const PatchProgress& progress,
                  std::wstring_view baseUrl) {
  progress(L"Preparing the update...", 0);
  // A release the check ignored lists no files; applied anyway, its empty
  // keep set would make the cleanup delete every game file.
  if (status.files.empty()) {
    progress(L"Up to date.", 100);
    return false;
  }

  const std::uint64_t done = GameFileDownloads(installFolder, status, progress, baseUrl).Run();

  std::set<std::wstring> keep;
  for (const ManifestFile& file : status.files) keep.insert(LowerAscii(LocalPathFor(installFolder, file)));
  RemoveStaleFiles(JoinPath(installFolder, GameFolderName), keep);
  // The cleanup walks only the game folder; a cut launcher download beside
  // it would otherwise stay for good. A launcher entry still to come
  // downloads it afresh below.
  DeleteFileW((JoinPath(installFolder, LauncherFileNameWide) + std::wstring(kPartialSuffixWide)).c_str());
  // Every ".partial" it vouched for is gone with the cleanup.
  DeleteFileW(PartialRecordPath(installFolder).c_str());

  WriteInstalledVersion(installFolder, status.version);

  bool replaced = false;
  for (const ManifestFile& entry : status.fetch) {
    if (!IsLauncherEntry(entry)) continue;
    ReplaceLauncher(installFolder, entry, done, status, progress, baseUrl);
    replaced = true;
    break;
  }
  progress(L"Up to date.", 100);
  return replaced;
}

}  // namespace launcher
