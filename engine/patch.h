// Patch application: makes an install folder match a checked release, and
// replaces the running launcher's own file when the release carries a new
// one.
#pragma once

#include <string_view>

#include "core/records.h"
#include "engine/download_progress.h"
#include "release/release_config.h"

namespace launcher {

// Applies `status` to `installFolder` in a fixed order: every game file of
// `fetch` is downloaded, verified and moved into place (list order), unless
// it is already in place with the release's content (a retried patch); a
// file listed more than once (letter case aside) is downloaded once, and its
// repeats count as done with it; files
// under "game" that the release does not list are removed, and so is a
// leftover "Stonewake Launcher.exe.partial"; installed.txt
// records `status.version`; last, a launcher entry in `fetch` replaces
// "Stonewake Launcher.exe" (the previous file is parked as
// "Stonewake Launcher.old") and the new launcher is started with "--updated"
// in the install folder. A status whose `files` is empty (a release the
// check ignored) changes nothing on disk.
//
// Reports ("Preparing the update...", 0), the download progress, and
// ("Up to date.", 100) at the end. Returns true when a new launcher was put
// in place and started (the caller then ends this launcher), false when the
// patch is complete without one.
//
// Throws LauncherError with FetchChecked's and WriteInstalledVersion's
// messages, StartProcess's message for the new launcher (the previous
// launcher is moved back over it first), and
//   "Stonewake is still running. Close it, then update again."
//       (a game file cannot be replaced: the files before it stay replaced)
//   "The launcher could not be updated. Close other copies of it and try again."
//       (the running launcher's file cannot be parked)
//   "The launcher could not be updated. Try again."
//       (the new launcher cannot be moved into place; the previous launcher
//       is moved back first)
// A failure undoes nothing else: every file already moved into place stays,
// so the next check fetches only what is still missing, and a cut download
// of a game file of 256 KiB or more keeps its ".partial" (its object named
// in "partials.txt"), which the next patch goes on from.
bool ApplyRelease(std::wstring_view installFolder, const ReleaseStatus& status, const PatchProgress& progress,
                  std::wstring_view baseUrl = ReleaseServerBase);

// For an install that already matches `status` (a release the check took,
// with nothing to fetch), which no patch then runs for: deletes what the
// downloads of an abandoned patch kept for a next attempt that will not
// come, or that a patch killed half-way left: every ".partial" under "game"
// that is not itself a file of the release, "Stonewake Launcher.exe.partial"
// and "partials.txt". Without it those bytes (gigabytes of a large release
// taken back) would stay for good, counted in the install size. Nothing else
// is touched, and any other status changes nothing. Cut off at any moment, it
// leaves only what the next call deletes. Reports nothing.
void DiscardAbandonedDownloads(std::wstring_view installFolder, const ReleaseStatus& status);

}  // namespace launcher
