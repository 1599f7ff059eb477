#include "release/chunk_hasher.h"

namespace launcher {

void CngChunkHasher::Add(std::span<const std::uint8_t> bytes) { hash_->Update(bytes); }

Sha256Digest CngChunkHasher::Finish() {
  const Sha256Digest digest = hash_->Finish();
  hash_.emplace();
  return digest;
}

}  // namespace launcher
