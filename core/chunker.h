// Content-defined chunking of large objects: where a chunk ends depends only
// on the bytes just before that place, so bytes inserted or removed early in
// an archive move no later boundary, and the chunks after an edit are found
// again by their digests.
//
// The rule ("gear"): a 64-bit value h is updated for every byte b as
// h = (h << 1) + kGear[b]; after 64 bytes every older byte has shifted out,
// so h is a function of the last 64 bytes alone. A chunk ends after a byte
// where the top `bits` bits of h are all zero (bits = log2(avg - min)), but
// never before `min` bytes, and always at `max` bytes. Hashing starts 64
// bytes before `min`, so a boundary never depends on where its chunk began.
// The top bits are used because the low bit k of h depends only on the last
// k + 1 bytes: a mask over the low bits would look at a window of a few
// bytes. The table is fixed for ever: a different table is a different rule
// and needs a name of its own in the index.
//
// The core only decides boundaries; the caller hashes (OpenSSL in the
// publisher, CNG in the launcher) through ChunkHasher.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <span>
#include <string_view>
#include <vector>

namespace launcher {

using Sha256Digest = std::array<std::uint8_t, 32>;

struct ChunkRule {
  std::uint32_t min = 0;
  std::uint32_t avg = 0;
  std::uint32_t max = 0;
  friend bool operator==(const ChunkRule&, const ChunkRule&) = default;
};

// The name the index gives the rule above.
inline constexpr std::string_view kGearRuleName = "gear";

// The smallest `min` and largest `max` an index may name. They bound what an
// index can make a launcher hold: at most size / kSmallestChunkMin + 1
// chunks, and one chunk of kLargestChunkMax bytes.
inline constexpr std::uint32_t kSmallestChunkMin = 16 * 1024;
inline constexpr std::uint32_t kLargestChunkMax = 16 * 1024 * 1024;

// The rule the publisher writes indexes with: min = avg / 2 (as good as
// "normalised" chunking), max = 4 avg. The average was chosen with
// bench/delta.sh (chunk_sizes): a 1 GiB archive of random bytes and its next
// build with 9.3 MB new in 12 places (blocks replaced, bytes inserted and
// removed from the first MiBs on). A patch fetches the new chunks not found
// in the old file, plus the index:
//   avg  32 KiB:  9.81 MB + 2.33 MB index = 12.14 MB
//   avg  64 KiB: 10.34 MB + 1.16 MB index = 11.50 MB
//   avg 128 KiB: 10.99 MB + 0.58 MB index = 11.58 MB
//   avg 256 KiB: 13.95 MB + 0.29 MB index = 14.24 MB
// 64 KiB is the least; against 128 KiB it also finds more where edits are
// many and small.
inline constexpr ChunkRule kChunkRule{32 * 1024, 64 * 1024, 256 * 1024};

// True when the rule can run and an index naming it is bounded:
// kSmallestChunkMin <= min, min + 1024 <= avg <= max <= kLargestChunkMax,
// and avg - min a power of two (2^bits, bits the number of top bits that
// must be zero). An index names its rule, so this is what the launcher
// allows from a server.
bool IsChunkRuleAllowed(const ChunkRule& rule);

// Finds the chunk boundaries of one stream fed in blocks of any size; the
// boundaries do not depend on how the stream is cut into blocks. Memory is
// constant. The rule must be allowed (IsChunkRuleAllowed).
class Chunker {
 public:
  explicit Chunker(const ChunkRule& rule);

  // How many of `block`'s bytes (the stream's next bytes) belong to the
  // chunk under way. When that chunk ends inside `block`, returns the count
  // up to and including its last byte and sets `ended`; the next call starts
  // the next chunk. Otherwise returns block.size() and clears `ended`.
  std::size_t Scan(std::span<const std::uint8_t> block, bool& ended);

  // Bytes of the chunk under way so far: at the end of the stream, the size
  // of its last chunk (0 when the stream ended at a boundary or was empty).
  std::uint64_t Pending() const { return size_; }

 private:
  std::uint64_t mask_;
  std::uint32_t min_;
  std::uint32_t max_;
  std::uint64_t hash_ = 0;
  std::uint64_t size_ = 0;
};

// The SHA-256 of the bytes added since the last Finish.
class ChunkHasher {
 public:
  virtual ~ChunkHasher() = default;
  virtual void Add(std::span<const std::uint8_t> bytes) = 0;
  // The digest of the bytes added, and a fresh start for the next chunk.
  virtual Sha256Digest Finish() = 0;
};

// One chunk of an object: `size` bytes from `offset`, and their SHA-256.
struct Chunk {
  std::uint64_t offset = 0;
  std::uint32_t size = 0;
  Sha256Digest digest{};
  friend bool operator==(const Chunk&, const Chunk&) = default;
};

// Splits a stream into chunks by `rule` and hashes each with `hasher`:
// Add every block in order, then Finish. What the publisher writes into an
// index and what the launcher looks for in an old file.
class ChunkSplitter {
 public:
  ChunkSplitter(const ChunkRule& rule, ChunkHasher& hasher);

  void Add(std::span<const std::uint8_t> block);

  // The chunks of the whole stream in order; none for an empty stream.
  std::vector<Chunk> Finish();

  // Bytes added so far.
  std::uint64_t Size() const { return offset_; }

 private:
  Chunker chunker_;
  ChunkHasher& hasher_;
  std::vector<Chunk> chunks_;
  std::uint64_t chunkStart_ = 0;
  std::uint64_t offset_ = 0;
};

}  // namespace launcher
