// Checking a release tree the way players' launchers will take it.
#pragma once

#include <cstddef>
#include <cstdint>
#include <filesystem>

#include "core/records.h"
#include "publisher/crypto.h"

namespace publisher {

struct TreeSummary {
  launcher::Manifest manifest;
  std::size_t objects = 0;  // distinct objects checked
  std::uint64_t bytes = 0;  // sum of the listed files' sizes
};

// Checks that latest/manifest.sig is a signature file the launcher reads and
// is valid for latest/manifest.txt under `key`, that the manifest parses and
// is small enough to be fetched, that its paths can be installed together on
// Windows, and that objects/<sha256> of every file is there with the listed
// size and digest. Throws PublishError listing every problem found.
TreeSummary CheckTree(const std::filesystem::path& tree, const PublicKey& key);

}  // namespace publisher
