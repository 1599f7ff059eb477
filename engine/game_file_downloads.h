// The game files of a patch, downloaded side by side and moved into place,
// and the record ("partials.txt") that lets an interrupted download go on
// from the bytes it kept.
#pragma once

#include <cstddef>
#include <cstdint>
#include <mutex>
#include <string_view>
#include <vector>

#include "core/records.h"
#include "engine/download_progress.h"
#include "engine/side_by_side.h"
#include "files/system_handles.h"
#include "transfer/http_request.h"

namespace launcher {

// Downloads of at least this many bytes go on from a ".partial" left by an
// interrupted attempt; smaller ones start again from their first byte,
// since a range request answered with anything but the rest costs a
// second request. bench/resume.sh, 50 ms round trip at 3 MB/s: one more
// request took 0.056 s; 128 KiB coming again 0.77 of that, 256 KiB 1.76.
inline constexpr std::uint64_t kResumeFromBytes = 256 * 1024;

// Downloads the game files of a patch side by side, each worker on an HTTP
// session of its own (its connection kept from file to file), and moves
// every verified file into place. The first failure ends it: the downloads
// still running stop at once (a worker waiting for a connection, headers or
// a body gives up its request), their ".partial" files go unless the next
// attempt may go on from them, the files already verified stay in place,
// and the failure is thrown as it would have been alone.
class GameFileDownloads {
 public:
  // The game files of `status.fetch` (launcher entries aside). A file listed
  // more than once, in one spelling or in letter-case variants, is one
  // download whose repeats count as done along with it. Every argument must
  // outlive the object.
  GameFileDownloads(std::wstring_view installFolder, const ReleaseStatus& status, const PatchProgress& progress,
                    std::wstring_view baseUrl);
  GameFileDownloads(const GameFileDownloads&) = delete;
  GameFileDownloads& operator=(const GameFileDownloads&) = delete;

  // Downloads, verifies and moves into place every file not already in place
  // with the release's content (a retried patch), reporting the whole
  // patch's download ("Downloading: D of T MB") with a count that never goes
  // back. Returns the bytes of every game file now in place. Runs once.
  //
  // Before any download starts, a ".partial" of a file of kResumeFromBytes
  // or more is kept when "partials.txt" vouches that it begins the object
  // now listed, deleted otherwise, and the record is replaced by one that
  // names every such download of this attempt; without a record that can be
  // written, nothing is resumed.
  //
  // Throws FetchChecked's messages and
  //   "Stonewake is still running. Close it, then update again."
  //       (a verified file cannot be moved over the file in place)
  std::uint64_t Run();

 private:
  // One game file to download, and how often the release lists it.
  struct GameFile {
    const ManifestFile* entry;
    std::uint64_t listed = 1;
    bool resume = false;  // its ".partial", if any, begins this very object
  };

  void Fetch(HttpSession& session, std::size_t worker, const GameFile& file);
  void PreparePartials();
  void Report(std::size_t worker, std::uint64_t written);
  void Finished(std::size_t worker, std::uint64_t size);
  void Publish();

  const std::wstring_view installFolder_;
  const ReleaseStatus& status_;
  const PatchProgress& progress_;
  const std::wstring_view baseUrl_;
  std::vector<GameFile> files_;
  SideBySide work_;
  // Set by the first failure; every request of the patch watches it.
  KernelHandle stop_;
  std::mutex mutex_;
  std::vector<std::uint64_t> written_;  // per worker, of the file it downloads
  std::uint64_t finished_ = 0;
  std::uint64_t reported_ = 0;
};

}  // namespace launcher
