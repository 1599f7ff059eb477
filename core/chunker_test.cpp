#include "core/chunker.h"

#include <gtest/gtest.h>

#include <cstring>
#include <set>
#include <string>
#include <vector>

#include "test_support/pattern_bytes.h"

namespace launcher {
namespace {

using testing::PatternBytes;

// Small chunks keep the inputs small; the rule's code is the same.
constexpr ChunkRule kSmall{16 * 1024, 32 * 1024, 128 * 1024};

// Not SHA-256, but the digest of different bytes differs: all the core
// needs from a hasher.
class TestHasher : public ChunkHasher {
 public:
  void Add(std::span<const std::uint8_t> bytes) override {
    for (std::uint8_t b : bytes) {
      for (std::size_t i = 0; i < state_.size(); ++i) state_[i] = (state_[i] ^ b) * (0x100000001b3ULL + 2 * i);
    }
  }
  Sha256Digest Finish() override {
    Sha256Digest digest;
    std::memcpy(digest.data(), state_.data(), digest.size());
    state_ = Fresh();
    return digest;
  }

 private:
  static std::array<std::uint64_t, 4> Fresh() { return {1, 2, 3, 4}; }
  std::array<std::uint64_t, 4> state_ = Fresh();
};

std::span<const std::uint8_t> Bytes(const std::string& s) {
  return std::span(reinterpret_cast<const std::uint8_t*>(s.data()), s.size());
}

std::vector<Chunk> Split(const std::string& data, std::size_t block, const ChunkRule& rule = kSmall) {
  TestHasher hasher;
  ChunkSplitter splitter(rule, hasher);
  const auto bytes = Bytes(data);
  for (std::size_t at = 0; at < bytes.size(); at += block)
    splitter.Add(bytes.subspan(at, std::min(block, bytes.size() - at)));
  return splitter.Finish();
}

TEST(ChunkRule, Allowed) {
  struct Case {
    const char* name;
    ChunkRule rule;
    bool allowed;
  };
  const Case kCases[] = {
      {"the publisher's", kChunkRule, true},
      {"smallest", {kSmallestChunkMin, 2 * kSmallestChunkMin, 2 * kSmallestChunkMin}, true},
      {"largest", {kLargestChunkMax / 2, kLargestChunkMax, kLargestChunkMax}, true},
      {"min below the floor", {kSmallestChunkMin / 2, kSmallestChunkMin, 4 * kSmallestChunkMin}, false},
      {"max above the ceiling", {kLargestChunkMax / 4, kLargestChunkMax / 2, kLargestChunkMax * 2}, false},
      {"avg - min not a power of two", {32 * 1024, 80 * 1024, 256 * 1024}, false},
      {"avg equal to min", {32 * 1024, 32 * 1024, 256 * 1024}, false},
      // A mask of no bits would shift a 64-bit value by 64.
      {"avg one above min", {kSmallestChunkMin, kSmallestChunkMin + 1, kSmallestChunkMin + 1}, false},
      {"avg 512 above min", {kSmallestChunkMin, kSmallestChunkMin + 512, 4 * kSmallestChunkMin}, false},
      {"avg 1024 above min", {kSmallestChunkMin, kSmallestChunkMin + 1024, 4 * kSmallestChunkMin}, true},
      {"max below avg", {32 * 1024, 64 * 1024, 48 * 1024}, false},
      {"all zero", {0, 0, 0}, false},
  };
  for (const Case& c : kCases) {
    SCOPED_TRACE(c.name);
    EXPECT_EQ(IsChunkRuleAllowed(c.rule), c.allowed);
  }
}

TEST(ChunkSplitter, BoundariesDoNotDependOnBlocks) {
  const std::string data = PatternBytes(1024 * 1024 + 12345);
  const std::vector<Chunk> whole = Split(data, data.size());
  for (std::size_t block : {1u, 63u, 4096u, 65536u + 7u}) {
    SCOPED_TRACE(block);
    EXPECT_EQ(Split(data, block), whole);
  }
}

TEST(ChunkSplitter, ChunksTileTheStreamWithinTheRule) {
  struct Case {
    const char* name;
    std::string data;
  };
  const Case kCases[] = {
      {"varied bytes", PatternBytes(3 * 1024 * 1024 + 1)},
      // A constant stream gives a constant gear value: every chunk ends at
      // min or, when that value never matches, at max.
      {"zeros", std::string(1024 * 1024, '\0')},
      {"shorter than min", PatternBytes(kSmall.min - 1)},
      {"empty", ""},
  };
  for (const Case& c : kCases) {
    SCOPED_TRACE(c.name);
    const std::vector<Chunk> chunks = Split(c.data, 8192);
    std::uint64_t offset = 0;
    for (std::size_t i = 0; i < chunks.size(); ++i) {
      EXPECT_EQ(chunks[i].offset, offset);
      EXPECT_LE(chunks[i].size, kSmall.max);
      if (i + 1 < chunks.size()) {
        EXPECT_GE(chunks[i].size, kSmall.min);
      }
      offset += chunks[i].size;
    }
    EXPECT_EQ(offset, c.data.size());
  }
}

TEST(ChunkSplitter, AverageFollowsTheRule) {
  const std::string data = PatternBytes(16 * 1024 * 1024, 7);
  const std::vector<Chunk> chunks = Split(data, 65536);
  const double mean = static_cast<double>(data.size()) / chunks.size();
  EXPECT_GT(mean, 0.8 * kSmall.avg);
  EXPECT_LT(mean, 1.25 * kSmall.avg);
}

// Publisher and launchers of every version must cut the same bytes at the
// same places: these boundaries are part of the rule.
TEST(ChunkSplitter, BoundariesOfTheRuleAreFixed) {
  const std::vector<Chunk> chunks = Split(PatternBytes(1024 * 1024, 3), 65536, kChunkRule);
  std::vector<std::uint64_t> ends;
  for (const Chunk& chunk : chunks) ends.push_back(chunk.offset + chunk.size);
  EXPECT_EQ(ends, (std::vector<std::uint64_t>{67785, 115685, 174956, 240494, 293199, 369262, 465155, 602290, 705929,
                                              783313, 832201, 880822, 916640, 1048576}));
}

// The point of content-defined chunks: after an edit, every chunk more than
// a chunk or two away from it is found again.
TEST(ChunkSplitter, AnEditChangesOnlyNearbyChunks) {
  const std::string old = PatternBytes(4 * 1024 * 1024, 5);
  struct Case {
    const char* name;
    std::string data;
    std::uint64_t editBytes;
    std::size_t places;
  };
  const std::string fresh = PatternBytes(300000, 9);
  const Case kCases[] = {
      {"bytes inserted at the start", fresh.substr(0, 1000) + old, 1000, 1},
      {"bytes removed at the start", old.substr(777), 0, 1},
      {"a block replaced in the middle", old.substr(0, 2000000) + fresh + old.substr(2300000), 300000, 1},
      {"bytes inserted in two places",
       old.substr(0, 100000) + "x" + old.substr(100000, 3000000) + fresh.substr(0, 5) + old.substr(3100000), 6, 2},
      {"bytes removed at the end", old.substr(0, old.size() - 5000), 0, 1},
  };
  std::set<Sha256Digest> oldDigests;
  for (const Chunk& chunk : Split(old, 65536)) oldDigests.insert(chunk.digest);
  for (const Case& c : kCases) {
    SCOPED_TRACE(c.name);
    std::uint64_t newBytes = 0;
    for (const Chunk& chunk : Split(c.data, 65536)) {
      if (!oldDigests.contains(chunk.digest)) newBytes += chunk.size;
    }
    EXPECT_LE(newBytes, c.editBytes + c.places * 2 * kSmall.max);
  }
}

}  // namespace
}  // namespace launcher
