#include "core/assembly_plan.h"

#include <gtest/gtest.h>

#include <map>
#include <string>

namespace launcher {
namespace {

using Kind = AssemblyStep::Kind;

// An index of chunks of these sizes; chunk i's digest is filled with i.
ChunkIndex IndexOf(const std::vector<std::uint32_t>& sizes) {
  ChunkIndex index{std::string(64, 'a'), 0, kChunkRule, {}};
  for (std::size_t i = 0; i < sizes.size(); ++i) {
    Chunk chunk{index.objectSize, sizes[i], {}};
    chunk.digest.fill(static_cast<std::uint8_t>(i));
    index.chunks.push_back(chunk);
    index.objectSize += sizes[i];
  }
  return index;
}

TEST(PlanAssembly, Steps) {
  constexpr std::uint64_t K = 1024;
  struct Case {
    const char* name;
    std::vector<std::uint32_t> sizes;
    std::map<std::size_t, std::uint64_t> local;  // chunk number -> offset in the old file
    std::uint64_t start;
    std::uint64_t joinGap;
    std::vector<AssemblyStep> steps;
  };
  const Case kCases[] = {
      {"nothing local", {40 * K, 50 * K, 60 * K}, {}, 0, 0, {{Kind::Fetch, 0, 150 * K, 0, 0, 3}}},
      {"all local in order", {40 * K, 50 * K}, {{0, 0}, {1, 40 * K}}, 0, 0, {{Kind::Copy, 0, 90 * K, 0, 0, 2}}},
      {"local but moved: two copies",
       {40 * K, 50 * K},
       {{0, 50 * K}, {1, 0}},
       0,
       0,
       {{Kind::Copy, 0, 40 * K, 50 * K, 0, 1}, {Kind::Copy, 40 * K, 50 * K, 0, 1, 1}}},
      {"one chunk changed in the middle",
       {40 * K, 50 * K, 60 * K},
       {{0, 0}, {2, 100 * K}},
       0,
       0,
       {{Kind::Copy, 0, 40 * K, 0, 0, 1},
        {Kind::Fetch, 40 * K, 50 * K, 0, 1, 1},
        {Kind::Copy, 90 * K, 60 * K, 100 * K, 2, 1}}},
      {"fetches apart by less than the gap joined",
       {40 * K, 50 * K, 60 * K, 70 * K},
       {{1, 0}, {3, 50 * K}},
       0,
       64 * K,
       {{Kind::Fetch, 0, 150 * K, 0, 0, 3}, {Kind::Copy, 150 * K, 70 * K, 50 * K, 3, 1}}},
      {"fetches apart by the gap kept apart",
       {40 * K, 64 * K, 60 * K},
       {{1, 0}},
       0,
       64 * K,
       {{Kind::Fetch, 0, 40 * K, 0, 0, 1},
        {Kind::Copy, 40 * K, 64 * K, 0, 1, 1},
        {Kind::Fetch, 104 * K, 60 * K, 0, 2, 1}}},
      {"a gap of two copies joined when below the gap",
       {40 * K, 20 * K, 20 * K, 60 * K},
       {{1, 500 * K}, {2, 0}},
       0,
       64 * K,
       {{Kind::Fetch, 0, 140 * K, 0, 0, 4}}},
      {"starting mid-chunk in a local chunk",
       {40 * K, 50 * K, 60 * K},
       {{1, 10 * K}, {2, 60 * K}},
       45 * K,
       0,
       {{Kind::Copy, 45 * K, 105 * K, 15 * K, 1, 2}}},
      {"starting mid-chunk in a fetched chunk",
       {40 * K, 50 * K, 60 * K},
       {{2, 0}},
       41 * K,
       0,
       {{Kind::Fetch, 41 * K, 49 * K, 0, 1, 1}, {Kind::Copy, 90 * K, 60 * K, 0, 2, 1}}},
      {"starting at a chunk's end", {40 * K, 50 * K}, {}, 40 * K, 0, {{Kind::Fetch, 40 * K, 50 * K, 0, 1, 1}}},
      {"starting at the end", {40 * K, 50 * K}, {{0, 0}}, 90 * K, 0, {}},
      {"an empty object", {}, {}, 0, 0, {}},
  };
  for (const Case& c : kCases) {
    SCOPED_TRACE(c.name);
    const ChunkIndex index = IndexOf(c.sizes);
    const auto find = [&](const Chunk& chunk) -> std::optional<std::uint64_t> {
      const auto found = c.local.find(chunk.digest[0]);
      if (found == c.local.end()) return std::nullopt;
      return found->second;
    };
    const std::vector<AssemblyStep> steps = PlanAssembly(index, find, c.start, c.joinGap);
    EXPECT_EQ(steps, c.steps);
    // Whatever the case, the steps write [start, size) once, in order.
    std::uint64_t at = c.start;
    for (const AssemblyStep& step : steps) {
      EXPECT_EQ(step.offset, at);
      at += step.size;
    }
    EXPECT_EQ(at, std::max(c.start, index.objectSize));
  }
}

TEST(LocalChunks, FindsByDigestAndSize) {
  const ChunkIndex old = IndexOf({40000, 50000, 40000});
  const LocalChunks local(old.chunks);
  Chunk wanted = old.chunks[1];
  wanted.offset = 999;
  EXPECT_EQ(local.Find(wanted), 40000u);
  wanted.size = 49999;  // an index may lie about a size
  EXPECT_EQ(local.Find(wanted), std::nullopt);
  wanted = old.chunks[2];
  wanted.digest[5] ^= 1;
  EXPECT_EQ(local.Find(wanted), std::nullopt);
}

}  // namespace
}  // namespace launcher
