// The release manifest's grammar ("stonewake-manifest 1") and the rule for
// the paths it may name.
//
//   stonewake-manifest 1
//   version 1.4.2
//   commit 9f3c2e1
//   file <64 lowercase hex> <size> game/Stonewake.exe
//   end
//
// The format never gains a line: every launcher already installed refuses a
// manifest with a line it does not know, so a release that adds one strands
// every player on the release before it, with no way to patch. New
// information goes into a new file that older launchers never ask for.
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
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

inline constexpr std::size_t kMaxRefusedLineChars = 256;

// Why a manifest was refused, for whoever must mend it (the publisher's
// verify); the launcher shows its player kManifestUnreadable whatever it is.
struct ManifestRefusal {
  enum class Kind {
    Grammar,  // a line of no known shape, or a line missing
    Paths,    // the grammar holds, but a path cannot be installed on Windows
              // (CheckInstallPath) or two paths clash (FindPathClashes)
  };
  Kind kind = Kind::Grammar;
  std::size_t line = 0;  // 1-based; 0 when no one line is at fault
  std::string text;      // that line as written, without its line end, at most kMaxRefusedLineChars
  std::string reason;
};

struct ManifestReading {
  // Every file line read. Complete only without a refusal; after a refusal
  // of Kind::Paths it holds every file line, so that each path at fault
  // can be named.
  Manifest manifest;
  std::optional<ManifestRefusal> refusal;
};

// Reads the manifest's bytes and says, when it refuses them, which line and
// why. ParseManifest's rule exactly: the one grammar every reader uses.
ManifestReading ReadManifest(std::span<const std::uint8_t> bytes);

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
