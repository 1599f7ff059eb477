// The release manifest's grammar ("stonewake-manifest 1") and the rule for
// the paths it may name.
//
//   stonewake-manifest 1
//   version 1.4.2
//   commit 9f3c2e1
//   file <64 lowercase hex> <size> game/Stonewake.exe
//   end
#pragma once

#include <cstddef>
#include <cstdint>
#include <span>
#include <string>
#include <string_view>

#include "core/install_paths.h"
#include "core/records.h"

namespace launcher {

inline constexpr std::wstring_view kManifestUnreadable = L"The release information could not be read.";

// The most bytes the launcher fetches for a manifest or its signature file;
// the publisher refuses to write a larger manifest.
inline constexpr std::size_t kMaxManifestBytes = 1048576;

// The text of `manifest` in the grammar above: header, version, commit and
// rollback lines when set, one file line per file in order, "end", every
// line ending in LF. What the publisher writes and ParseManifest reads.
std::string ManifestText(const Manifest& manifest);

// Parses the manifest's bytes. Throws LauncherError
// "The release information could not be read." on any rejection; no partial
// manifest escapes. Besides the grammar, a manifest is refused when a path
// cannot be installed on Windows as written (CheckInstallPath), or when two
// paths clash (FindPathClashes): the same file listed with different
// digests, a file beside its own ".partial" name, a file that another
// path needs as a folder. The same path listed twice with the same digest
// is allowed.
Manifest ParseManifest(std::span<const std::uint8_t> bytes);

}  // namespace launcher
