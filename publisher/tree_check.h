// Checking a release tree the way players' launchers will take it.
#pragma once

#include <cstddef>
#include <cstdint>
#include <filesystem>
#include <optional>
#include <string>

#include "core/records.h"
#include "publisher/crypto.h"
#include "publisher/launcher_image.h"

namespace publisher {

struct TreeSummary {
  launcher::Manifest manifest;
  std::size_t objects = 0;                // distinct objects checked
  std::uint64_t bytes = 0;                // sum of the listed files' sizes
  std::optional<LauncherFacts> launcher;  // what the release's launcher, if any, says of itself
};

struct TreeCheckOptions {
  // The release's launcher may trust another key: players are being moved
  // to it.
  bool rotateKey = false;
  // When not empty, the release server the release's launcher must ask.
  std::string server;
};

// Checks that latest/manifest.sig is a signature file the launcher reads and
// is valid for latest/manifest.txt under `key`, that the manifest parses and
// is small enough to be fetched, that its paths can be installed together on
// Windows, that objects/<sha256> of every file is there with the listed
// size and digest, that objects/<sha256>.chunks, where there is one, is an
// index the launcher reads and lists the object's chunks byte for byte
// under the rule it names (a large object without one is fine: a tree
// published before indexes), and that the launcher the release carries, if any,
// trusts `key` and asks `options.server` (LauncherTrustProblems). Throws
// PublishError listing every problem found, each naming its file.
TreeSummary CheckTree(const std::filesystem::path& tree, const PublicKey& key, const TreeCheckOptions& options = {});

}  // namespace publisher
