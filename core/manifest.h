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

// The most bytes the launcher fetches for a manifest; the publisher refuses
// to write a larger one. A file line takes about 105 bytes with the paths
// games use (75 bytes and the path), so 32 MiB holds some 300,000 files, or
// 100,000 with paths of 250 characters. It bounds what a response can make
// the launcher hold: the body, then about 260 bytes per parsed file.
inline constexpr std::size_t kMaxManifestBytes = 32 * 1048576;

// The most bytes the launcher fetches for the signature file (146 bytes and
// a line end). Small on purpose: every open launcher repeats that request.
inline constexpr std::size_t kMaxSignatureFileBytes = 4096;

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
