// The launcher's ChunkHasher: each chunk's SHA-256 through CNG, the same
// digests the publisher writes into a chunk index.
#pragma once

#include <optional>
#include <span>

#include "core/chunker.h"
#include "release/sha256.h"

namespace launcher {

// Throws Sha256Hash's sentences.
class CngChunkHasher final : public ChunkHasher {
 public:
  CngChunkHasher() : hash_(std::in_place) {}

  void Add(std::span<const std::uint8_t> bytes) override;
  Sha256Digest Finish() override;

 private:
  // A finished CNG hash cannot take more bytes; the next chunk gets a fresh
  // one.
  std::optional<Sha256Hash> hash_;
};

}  // namespace launcher
