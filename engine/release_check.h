// The launcher's central question: what has to be downloaded so that the
// install folder matches the newest release?
#pragma once

#include <string_view>

#include "core/records.h"
#include "engine/verified_files.h"
#include "engine/verified_manifest.h"
#include "release/release_config.h"

namespace launcher {

// Fetches and verifies the release's manifest, reads installed.txt, and
// decides whether the release is taken (TakesRelease). When it is ignored,
// returns the installed version with nothing to fetch and reads no game file.
// Otherwise hashes every listed file that exists and lists in `fetch` those
// that are missing or differ, launcher entries behind all game files.
//
// Reads only: writes, moves and deletes nothing, creates no folder. Throws
// LauncherError with the messages of the transfer, the signature check
// ("The release could not be verified, so nothing was changed."), the
// manifest parser and FileSha256 ("Could not read <name>." for a listed path
// that exists but cannot be opened).
//
// The manifest comes through `memory` (FetchVerifiedManifest): a release
// the probe has just verified is not fetched again. With a `stop` event (a
// HANDLE), the manifest's requests end with TransferStopped once it is set.
//
// With `verification`, a listed file counts as in place without being
// hashed when the folder listing shows it as a regular file whose size and
// last-write time are those of its entry in `verification.known`, and that
// entry's digest is the release's; except the files verified longest ago,
// which are hashed again up to `verification.rehashBytes`.
// `verification.verified` gets the record of every file found in place
// whose last-write time lies kUnsettledWrite or more before the listing.
// A file changed through the file
// system moves its last-write time, so the answer is the one hashing every
// file would give.
ReleaseStatus CheckRelease(std::wstring_view installFolder, VerifiedManifestMemory& memory,
                           FileVerification& verification, std::wstring_view baseUrl = ReleaseServerBase,
                           void* stop = nullptr);
// Every listed file that exists is hashed; nothing is recorded.
ReleaseStatus CheckRelease(std::wstring_view installFolder, VerifiedManifestMemory& memory,
                           std::wstring_view baseUrl = ReleaseServerBase, void* stop = nullptr);
// The same with nothing remembered.
ReleaseStatus CheckRelease(std::wstring_view installFolder, std::wstring_view baseUrl = ReleaseServerBase);

// The check as the launcher runs it at every start: with the install's
// record of verified files (ReadVerifiedRecord), which it writes again
// afterwards with what it found (WriteVerifiedRecord) when the release was
// taken. The check itself still moves and deletes nothing; the record is
// written once it has ended. `verification` gives the budget of files
// hashed again and gets the check's counts; its `known` is replaced by the
// record read.
ReleaseStatus CheckReleaseRecorded(std::wstring_view installFolder, VerifiedManifestMemory& memory,
                                   FileVerification& verification, std::wstring_view baseUrl = ReleaseServerBase,
                                   void* stop = nullptr);
ReleaseStatus CheckReleaseRecorded(std::wstring_view installFolder, VerifiedManifestMemory& memory,
                                   std::wstring_view baseUrl = ReleaseServerBase, void* stop = nullptr);

}  // namespace launcher
