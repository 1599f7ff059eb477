// The launcher replacing its own executable with the one a release carries.
#pragma once

#include <cstdint>
#include <string_view>

#include "core/records.h"
#include "engine/download_progress.h"

namespace launcher {

// Downloads the release's launcher `entry` into "Stonewake Launcher.exe.partial",
// reporting the whole patch's download from `done` of `status.fetchBytes`
// bytes on, flushes it to disk, parks the running "Stonewake Launcher.exe"
// as "Stonewake Launcher.old", moves the new one into its place and starts
// it with "--updated" in the install folder.
//
// Throws FetchChecked's messages (nothing else changed), StartProcess's
// message for the new launcher (the previous launcher is moved back over it
// first), and
//   "The launcher could not be updated. Close other copies of it and try again."
//       (the running launcher's file cannot be parked)
//   "The launcher could not be updated. Try again."
//       (the new launcher cannot be moved into place; the previous launcher
//       is moved back first)
void ReplaceLauncher(std::wstring_view installFolder, const ManifestFile& entry, std::uint64_t done,
                     const ReleaseStatus& status, const PatchProgress& progress, std::wstring_view baseUrl);

}  // namespace launcher
