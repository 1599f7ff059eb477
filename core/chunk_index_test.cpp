#include "core/chunk_index.h"

#include <gtest/gtest.h>

#include <string>

namespace launcher {
namespace {

const std::string kObject(64, 'a');
const std::string kDigestB = "0123456789abcdef0123456789abcdef0123456789abcdef0123456789abcdef";

std::span<const std::uint8_t> Bytes(const std::string& s) {
  return std::span(reinterpret_cast<const std::uint8_t*>(s.data()), s.size());
}

ParsedChunkIndex Parse(const std::string& text, std::uint64_t size, const std::string& object = kObject) {
  return ParseChunkIndex(Bytes(text), object, size);
}

// An index of `size` bytes in chunks of the given sizes, every line ending
// in `eol`.
std::string Text(std::uint64_t size, const std::vector<std::string>& chunkLines, const std::string& eol = "\n",
                 const std::string& rule = "rule gear 32768 65536 262144") {
  std::string text = "stonewake-chunks 1" + eol + "object " + kObject + " " + std::to_string(size) + eol + rule + eol;
  for (const std::string& line : chunkLines) text += line + eol;
  return text + "end" + eol;
}

std::string Line(std::uint64_t size, const std::string& digest = kDigestB) {
  return std::to_string(size) + " " + digest;
}

TEST(ChunkIndex, WriterAndParserAgree) {
  ChunkIndex index{kObject, 100000 + 262144 + 5, kChunkRule, {}};
  index.chunks.push_back(Chunk{0, 100000, {}});
  index.chunks.push_back(Chunk{100000, 262144, {}});
  index.chunks.push_back(Chunk{362144, 5, {}});
  for (std::size_t i = 0; i < index.chunks.size(); ++i)
    index.chunks[i].digest.fill(static_cast<std::uint8_t>(0x11 * i + 0xa0));

  const std::string text = ChunkIndexText(index);
  EXPECT_EQ(text.substr(0, 19), "stonewake-chunks 1\n");
  const ParsedChunkIndex parsed = Parse(text, index.objectSize);
  ASSERT_TRUE(parsed.index) << parsed.refusal.reason;
  EXPECT_EQ(parsed.index->objectSha256, index.objectSha256);
  EXPECT_EQ(parsed.index->objectSize, index.objectSize);
  EXPECT_EQ(parsed.index->rule, index.rule);
  EXPECT_EQ(parsed.index->chunks, index.chunks);
  EXPECT_EQ(ChunkIndexPath(kObject), "objects/" + kObject + ".chunks");
}

TEST(ChunkIndex, AcceptedVariants) {
  struct Case {
    const char* name;
    std::string text;
    std::uint64_t size;
    std::size_t chunks;
  };
  const Case kCases[] = {
      {"CR LF line ends", Text(70000, {Line(40000), Line(30000)}, "\r\n"), 70000, 2},
      {"text after end", Text(40000, {Line(40000)}) + "garbage\n", 40000, 1},
      {"no line end after end", Text(40000, {Line(40000)}).substr(0, Text(40000, {Line(40000)}).size() - 1), 40000, 1},
      {"one chunk shorter than min", Text(10, {Line(10)}), 10, 1},
      {"an empty object", Text(0, {}), 0, 0},
  };
  for (const Case& c : kCases) {
    SCOPED_TRACE(c.name);
    const ParsedChunkIndex parsed = Parse(c.text, c.size);
    ASSERT_TRUE(parsed.index) << parsed.refusal.reason;
    EXPECT_EQ(parsed.index->chunks.size(), c.chunks);
  }
}

TEST(ChunkIndex, Refusals) {
  struct Case {
    const char* name;
    std::string text;
    std::uint64_t size;
    std::size_t line;
    std::string object = kObject;  // the object the signed manifest lists
  };
  const std::string ok = Line(40000);
  const Case kCases[] = {
      {"empty", "", 40000, 1},
      {"another header", "stonewake-chunks 2\n", 40000, 1},
      {"the manifest's header", "stonewake-manifest 1\n", 40000, 1},
      {"another object's digest", Text(40000, {ok}), 40000, 2, kDigestB},
      {"another object's size", Text(40001, {Line(40001)}), 40000, 2},
      {"an object of 100 GB", Text(100'000'000'000ULL, {ok}), 40000, 2},
      {"an upper-case object digest", "stonewake-chunks 1\nobject " + std::string(64, 'A') + " 40000\n", 40000, 2},
      {"no object line", "stonewake-chunks 1\nrule gear 32768 65536 262144\nend\n", 40000, 2},
      {"an unknown rule", Text(40000, {ok}, "\n", "rule buzhash 32768 65536 262144"), 40000, 3},
      {"min below the floor", Text(40000, {ok}, "\n", "rule gear 1024 2048 8192"), 40000, 3},
      {"avg - min not a power of two", Text(40000, {ok}, "\n", "rule gear 32768 65537 262144"), 40000, 3},
      {"a rule number beyond 32 bits", Text(40000, {ok}, "\n", "rule gear 32768 65536 4294967296262144"), 40000, 3},
      {"two spaces", Text(40000, {"40000  " + kDigestB}), 40000, 4},
      {"a short digest", Text(40000, {Line(40000, kDigestB.substr(1))}), 40000, 4},
      {"an upper-case digest", Text(40000, {Line(40000, std::string(64, 'F'))}), 40000, 4},
      {"a negative size", Text(40000, {"-40000 " + kDigestB}), 40000, 4},
      {"a zero size", Text(40000, {Line(0), ok}), 40000, 4},
      {"a chunk over max", Text(300000, {Line(300000)}), 300000, 4},
      {"a short chunk before the last", Text(70000, {Line(30000), Line(40000)}), 70000, 4},
      {"chunks past the object", Text(70000, {Line(40000), Line(40000)}), 70000, 5},
      {"chunks end early", Text(80000, {Line(40000)}), 80000, 5},
      {"no end line", Text(40000, {ok}).substr(0, Text(40000, {ok}).size() - 4), 40000, 5},
      {"end with a blank", Text(40000, {ok}).substr(0, Text(40000, {ok}).size() - 1) + " \n", 40000, 5},
      {"an empty line", Text(40000, {"", ok}), 40000, 4},
      {"a text larger than the object allows", Text(40000, {ok}) + std::string(MaxChunkIndexBytes(40000), 'x'), 40000,
       0},
  };
  for (const Case& c : kCases) {
    SCOPED_TRACE(c.name);
    const ParsedChunkIndex parsed = Parse(c.text, c.size, c.object);
    EXPECT_FALSE(parsed.index);
    EXPECT_EQ(parsed.refusal.line, c.line);
    EXPECT_FALSE(parsed.refusal.reason.empty());
  }
}

// The launcher fetches at most MaxChunkIndexBytes for an index: the
// largest index an object can have must fit, whatever its line ends.
TEST(ChunkIndex, CeilingHoldsTheLargestIndex) {
  for (std::uint64_t size : {std::uint64_t{0}, std::uint64_t{kSmallestChunkMin} * 100 + 1}) {
    SCOPED_TRACE(size);
    std::vector<std::string> lines(size / kSmallestChunkMin, Line(kSmallestChunkMin));
    if (size % kSmallestChunkMin != 0) lines.push_back(Line(size % kSmallestChunkMin));
    const std::string text = Text(size, lines, "\r\n", "rule gear 16384 32768 16777216");
    EXPECT_LE(text.size(), MaxChunkIndexBytes(size));
    EXPECT_TRUE(Parse(text, size).index);
  }
}

}  // namespace
}  // namespace launcher
