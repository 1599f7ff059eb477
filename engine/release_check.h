// The launcher's central question: what has to be downloaded so that the
// install folder matches the newest release?
#pragma once

#include <string_view>

#include "core/records.h"
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
// the probe has just verified is not fetched again. Every listed file is
// hashed all the same; no digest is remembered. With a `stop` event (a
// HANDLE), the manifest's requests end with TransferStopped once it is set.
ReleaseStatus CheckRelease(std::wstring_view installFolder, VerifiedManifestMemory& memory,
                           std::wstring_view baseUrl = ReleaseServerBase, void* stop = nullptr);
// The same with nothing remembered.
ReleaseStatus CheckRelease(std::wstring_view installFolder, std::wstring_view baseUrl = ReleaseServerBase);

}  // namespace launcher
