#include "core/chunker.h"

#include <algorithm>
#include <bit>
#include <utility>

namespace launcher {
namespace {

// Bytes of history the gear value depends on (its width in bits).
constexpr std::uint32_t kGearWindow = 64;

// The least avg - min: a boundary then needs 10 bits of the gear value.
constexpr std::uint32_t kSmallestMaskGap = 1024;

// splitmix64 from a fixed seed: 256 well-mixed values, the same in every
// build. Part of the rule's definition, like the name "gear".
constexpr std::array<std::uint64_t, 256> MakeGearTable() {
  std::array<std::uint64_t, 256> table{};
  std::uint64_t state = 0x5354'4f4e'4557'414bULL;
  for (std::uint64_t& value : table) {
    state += 0x9e37'79b9'7f4a'7c15ULL;
    std::uint64_t z = state;
    z = (z ^ (z >> 30)) * 0xbf58'476d'1ce4'e5b9ULL;
    z = (z ^ (z >> 27)) * 0x94d0'49bb'1331'11ebULL;
    value = z ^ (z >> 31);
  }
  return table;
}

constexpr std::array<std::uint64_t, 256> kGear = MakeGearTable();

}  // namespace

bool IsChunkRuleAllowed(const ChunkRule& rule) {
  // A gap of at least 2 keeps the mask's shift below 64 (a shift by 64 is
  // undefined); rules that close make no sense anyway.
  return rule.min >= kSmallestChunkMin && rule.min + kSmallestMaskGap <= rule.avg && rule.avg <= rule.max &&
         rule.max <= kLargestChunkMax && std::has_single_bit(rule.avg - rule.min);
}

Chunker::Chunker(const ChunkRule& rule)
    : mask_(~0ULL << (64 - std::countr_zero(rule.avg - rule.min))), min_(rule.min), max_(rule.max) {}

std::size_t Chunker::Scan(std::span<const std::uint8_t> block, bool& ended) {
  const std::size_t n = block.size();
  std::size_t i = 0;
  // The bytes before the window that can end a chunk at `min` only count.
  const std::uint64_t quiet = min_ - kGearWindow;
  if (size_ < quiet) {
    const std::size_t skip = static_cast<std::size_t>(std::min<std::uint64_t>(quiet - size_, n));
    i += skip;
    size_ += skip;
  }
  std::uint64_t hash = hash_;
  std::uint64_t size = size_;
  while (i < n) {
    hash = (hash << 1) + kGear[block[i]];
    ++i;
    ++size;
    if (size >= min_ && ((hash & mask_) == 0 || size >= max_)) {
      hash_ = 0;
      size_ = 0;
      ended = true;
      return i;
    }
  }
  hash_ = hash;
  size_ = size;
  ended = false;
  return n;
}

ChunkSplitter::ChunkSplitter(const ChunkRule& rule, ChunkHasher& hasher) : chunker_(rule), hasher_(hasher) {}

void ChunkSplitter::Add(std::span<const std::uint8_t> block) {
  while (!block.empty()) {
    bool ended = false;
    const std::size_t taken = chunker_.Scan(block, ended);
    hasher_.Add(block.first(taken));
    offset_ += taken;
    if (ended) {
      chunks_.push_back(Chunk{chunkStart_, static_cast<std::uint32_t>(offset_ - chunkStart_), hasher_.Finish()});
      chunkStart_ = offset_;
    }
    block = block.subspan(taken);
  }
}

std::vector<Chunk> ChunkSplitter::Finish() {
  if (offset_ > chunkStart_) {
    chunks_.push_back(Chunk{chunkStart_, static_cast<std::uint32_t>(offset_ - chunkStart_), hasher_.Finish()});
    chunkStart_ = offset_;
  }
  return std::move(chunks_);
}

}  // namespace launcher
