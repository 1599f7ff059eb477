// Turning a game folder (and optionally a launcher executable) into a signed
// release tree of static files:
//
//   objects/<sha256>       every file's content, named by its digest
//   objects/<sha256>.chunks  the chunk index of each large object
//   latest/manifest.txt    the manifest
//   latest/manifest.sig    its signature
//
// Objects and their indexes go in first, the manifest next and the signature last, each
// renamed into place when complete, so whoever serves the tree never hands
// out a manifest whose objects are missing.
#pragma once

#include <cstddef>
#include <cstdint>
#include <filesystem>
#include <functional>
#include <optional>
#include <string>
#include <vector>

#include "core/manifest.h"
#include "core/records.h"
#include "publisher/crypto.h"
#include "publisher/game_folder.h"
#include "publisher/launcher_image.h"
#include "publisher/publish_report.h"

namespace publisher {

// The manifest's and signature's size limits and the writer are the
// launcher's own.
using launcher::kMaxManifestBytes;
using launcher::kMaxSignatureFileBytes;
using launcher::ManifestText;

// The file's bytes, at most limit + 1 of them (enough to tell a file over
// the limit); nothing when it cannot be opened or read. Read in steps, so a
// small file costs a small buffer whatever the limit.
std::optional<std::string> ReadAtMost(const std::filesystem::path& file, std::size_t limit);

struct ReleaseInput {
  std::filesystem::path gameFolder;   // its files become "game/<relative path>"
  std::filesystem::path launcherExe;  // empty: the release carries no launcher
  std::string version;
  std::string commit;  // empty: no commit line
  bool rollback = false;
  // Sign even though the tree's current release was signed by another key.
  bool newKey = false;
  // Ship a launcher that trusts a key other than the signing key: players
  // are being moved to the launcher's key.
  bool rotateKey = false;
  // When not empty, the release server the launcher must ask.
  std::string server;
};

struct PublishResult {
  launcher::Manifest manifest;
  std::size_t objectsWritten = 0;
  std::size_t objectsKept = 0;
  std::size_t indexesWritten = 0;  // chunk indexes of large objects
  std::size_t indexesKept = 0;
  std::uint64_t bytes = 0;  // sum of the listed files' sizes
};

// A release checked and ready to be written: nothing has been read from the
// files yet, and nothing written.
struct ReleasePlan {
  ReleaseInput input;
  std::vector<PlannedFile> files;               // manifest order
  std::optional<launcher::Manifest> published;  // the release the tree holds now, if it can be read
  std::optional<LauncherFacts> launcher;        // what the launcher carried, if any, says of itself
};

// Checks the words, every input file's name and kind, the key and server
// the launcher trusts (LauncherTrustProblems), and the tree's current
// release. Writes nothing. Throws PublishError; when the input is refused,
// the message lists every offending file.
ReleasePlan PlanRelease(const ReleaseInput& input, const PrivateKey& key, const std::filesystem::path& tree,
                        const PublishReport& report);

// Writes a planned release into `tree`. Each game file is read exactly once,
// through one descriptor opened without following a link at any step below
// the game folder and without waiting on a pipe, and must then be a regular
// file: a file swapped for a link or a special file since the walk is
// refused, so nothing outside the game folder gets signed. Its digest and
// its object come from that one read. Under the tree's lock, before writing
// anything, it weighs the release again against the one the tree holds
// then (version order, signing key), as PlanRelease did: another run may
// have published meanwhile. Throws PublishError.
PublishResult WriteRelease(const ReleasePlan& plan, const PrivateKey& key, const std::filesystem::path& tree,
                           const PublishReport& report);

// The manifest WriteRelease would write for `plan`, digests included, with
// each file read the same way and nothing written anywhere.
launcher::Manifest DigestRelease(const ReleasePlan& plan);

// PlanRelease, then WriteRelease.
PublishResult PublishRelease(const ReleaseInput& input, const PrivateKey& key, const std::filesystem::path& tree,
                             const PublishReport& report);

// Why `word` cannot be a version or commit word ("" when it can): it must be
// one word of printable ASCII.
std::string WordProblem(std::string_view word);

}  // namespace publisher
