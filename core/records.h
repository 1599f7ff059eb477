// The records the update engine passes between its steps and to the window.
#pragma once

#include <cstdint>
#include <map>
#include <string>
#include <string_view>
#include <vector>

#include "core/install_layout.h"

namespace launcher {

// One file of a release.
struct ManifestFile {
  std::string path;        // relative to the install folder, '/' separated, as in the manifest
  std::string sha256;      // 64 lowercase hex characters; also the object's name on the server
  std::uint64_t size = 0;  // published size; used for totals and progress only
};

// True for the entry that names the launcher's own executable.
inline bool IsLauncherEntry(const ManifestFile& file) { return file.path == LauncherFileName; }

// A parsed release manifest.
struct Manifest {
  std::string version;  // never empty after a successful parse
  std::string commit;   // empty when the manifest has no commit line
  bool rollback = false;
  std::vector<ManifestFile> files;  // file order, duplicates kept, at least one
};

// The outcome of a release check. Immutable once built; shared read-only
// between the window thread and the workers through a shared pointer.
struct ReleaseStatus {
  std::wstring version;             // the version the install is to be at
  std::vector<ManifestFile> files;  // the whole release when taken, else empty
  std::vector<ManifestFile> fetch;  // what differs on disk; launcher entries last
  std::uint64_t fetchBytes = 0;     // sum of the published sizes in fetch
  // For each large file of `fetch` found at its place with other content:
  // its manifest path and the digest of what was there, whose own chunk
  // index spares the patch chunking the old file again.
  std::map<std::string, std::string> heldSha256;
};

// The engine's one exception type: a complete sentence for the user. It has
// no base class on purpose, so a handler for standard exceptions never
// swallows it. `windowsError` is the code of the Windows call that failed,
// when one did, kept for the developer's trace (files/trace.h); the player
// reads the sentence alone.
struct LauncherError {
  std::wstring message;
  std::uint32_t windowsError = 0;
};

}  // namespace launcher
