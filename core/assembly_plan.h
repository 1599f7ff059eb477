// How a launcher that holds an older file builds a new object from it: the
// new object's chunks (its index) in order, each copied from the old file
// when a chunk of the same digest and size is found there, the rest fetched
// from the object with byte ranges. The new file is written in offset
// order, so what is written always begins the object.
#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <optional>
#include <unordered_map>
#include <vector>

#include "core/chunk_index.h"
#include "core/chunker.h"

namespace launcher {

// Fetches separated by fewer local bytes than this are joined into one
// range request, the local bytes between them fetched again. A gap is whole
// chunks, at least the rule's min (32 KiB), while one more range costs the
// server 334 bytes of headers (nginx's 206 answer, from its access log)
// when ranges are in flight side by side over kept connections, so only a
// gap shorter than any chunk is worth joining. bench/delta.sh (chunk_sizes,
// 1 GiB, 12 edits): 12 ranges of 10.34 MB with gaps up to 1 MiB joined or
// none; joining gaps under 4 MiB saves 2 ranges and fetches 3.69 MB more.
inline constexpr std::uint64_t kJoinGapBytes = 16 * 1024;

struct AssemblyStep {
  enum class Kind { Copy, Fetch };
  Kind kind = Kind::Fetch;
  std::uint64_t offset = 0;  // in the new object
  std::uint64_t size = 0;
  std::uint64_t from = 0;  // Copy: offset in the old file
  // The index's chunks the step covers: [firstChunk, firstChunk + chunkCount).
  // The first may be only partly covered when the plan starts mid-chunk.
  std::size_t firstChunk = 0;
  std::size_t chunkCount = 0;
  friend bool operator==(const AssemblyStep&, const AssemblyStep&) = default;
};

// Where the old file holds a chunk of this digest and size, if anywhere.
using FindLocalChunk = std::function<std::optional<std::uint64_t>(const Chunk&)>;

// Chunks of an old file by digest and size: the lookup PlanAssembly takes,
// built from the old file's chunks under the new index's rule (a
// ChunkSplitter run over the old file, or the old object's own index when it
// names the same rule; under another rule few boundaries would agree). The
// first of equal chunks wins. A chunk found here is only a candidate: the
// bytes read from the old file must still hash to the new index's digest.
class LocalChunks {
 public:
  explicit LocalChunks(const std::vector<Chunk>& chunks);
  std::optional<std::uint64_t> Find(const Chunk& chunk) const;

 private:
  struct DigestHash {
    std::size_t operator()(const Sha256Digest& digest) const;
  };
  std::unordered_map<Sha256Digest, Chunk, DigestHash> byDigest_;
};

// The steps that write bytes [start, objectSize) of `index`'s object in
// order (start: what a kept ".partial" already holds; 0 for a new one).
// Copies of neighbouring chunks that also lie next to each other in the
// old file become one copy; fetches separated by fewer than `joinGap` local
// bytes become one fetch. Steps cover the range exactly, without overlap.
std::vector<AssemblyStep> PlanAssembly(const ChunkIndex& index, const FindLocalChunk& findLocal,
                                       std::uint64_t start = 0, std::uint64_t joinGap = kJoinGapBytes);

struct AssemblyTotals {
  std::uint64_t copyBytes = 0;
  std::uint64_t fetchBytes = 0;
  std::size_t fetches = 0;
};
AssemblyTotals TotalsOf(const std::vector<AssemblyStep>& steps);

}  // namespace launcher
