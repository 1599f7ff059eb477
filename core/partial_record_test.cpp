#include "core/partial_record.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <limits>
#include <string>
#include <vector>

namespace launcher {
namespace {

const std::string kDigestA(64, 'a');
const std::string kDigestB = "0123456789abcdef0123456789abcdef0123456789abcdef0123456789abcdef";

std::string Line(const std::string& digest, const std::string& size, const std::string& path) {
  return digest + " " + size + " " + path + "\n";
}

TEST(PartialRecord, WritesOneLinePerFileAndReadsItBack) {
  const std::vector<ManifestFile> files = {
      {"game/data/big.pak", kDigestB, 400000},
      {"game/My Maps/a b.map", kDigestA, 0},
      {"game/Huge.PAK", kDigestA, std::numeric_limits<std::uint64_t>::max()},
  };
  std::vector<const ManifestFile*> pointers;
  for (const ManifestFile& file : files) pointers.push_back(&file);

  const std::optional<std::string> text = PartialRecordText(pointers);
  ASSERT_TRUE(text);
  EXPECT_EQ(*text, Line(kDigestB, "400000", "game/data/big.pak") + Line(kDigestA, "0", "game/My Maps/a b.map") +
                       Line(kDigestA, "18446744073709551615", "game/Huge.PAK"));
  const PartialRecord record = ParsePartialRecord(*text);
  EXPECT_EQ(record.size(), files.size());
  for (const ManifestFile& file : files) {
    SCOPED_TRACE(file.path);
    EXPECT_TRUE(PartialRecordVouchesFor(record, file));
  }
  EXPECT_EQ(PartialRecordText({}), "");
}

// Which lines count: only those in the writer's form, each ended; of two for
// one path (in any letter case) the later.
TEST(PartialRecord, ReadsOnlyWholeLinesOfItsForm) {
  const ManifestFile big{"game/data/big.pak", kDigestB, 400000};
  struct Case {
    const char* name;
    std::string text;
    bool vouches;
  };
  const Case kCases[] = {
      {"the line", Line(kDigestB, "400000", "game/data/big.pak"), true},
      {"among others", Line(kDigestA, "5", "game/a") + Line(kDigestB, "400000", "game/data/big.pak") +
                           Line(kDigestA, "7", "game/b"), true},
      {"other letter case", Line(kDigestB, "400000", "game/DATA/Big.pak"), true},
      {"cut before its line end", kDigestB + " 400000 game/data/big.pak", false},
      {"cut in the digest", kDigestB.substr(0, 30), false},
      {"another digest", Line(kDigestA, "400000", "game/data/big.pak"), false},
      {"another size", Line(kDigestB, "400001", "game/data/big.pak"), false},
      {"upper-case digest", Line("0123456789ABCDEF" + kDigestB.substr(16), "400000", "game/data/big.pak"), false},
      {"short digest", Line(kDigestB.substr(1), "400000", "game/data/big.pak"), false},
      {"size with a leading zero", Line(kDigestB, "0400000", "game/data/big.pak"), false},
      {"size with a sign", Line(kDigestB, "+400000", "game/data/big.pak"), false},
      {"size past 64 bits", Line(kDigestB, "18446744073709551616", "game/data/big.pak"), false},
      {"two spaces", kDigestB + "  400000 game/data/big.pak\n", false},
      {"a later line for the path", Line(kDigestB, "400000", "game/data/big.pak") + Line(kDigestA, "9", "game/data/BIG.pak"),
       false},
      {"a later line replaces a wrong one", Line(kDigestA, "9", "game/data/big.pak") +
                                                Line(kDigestB, "400000", "game/data/big.pak"), true},
      {"a malformed later line leaves the earlier", Line(kDigestB, "400000", "game/data/big.pak") +
                                                        Line(kDigestA, "x", "game/data/big.pak"), true},
      {"empty", "", false},
      {"binary junk", std::string("\0\n\xff \xfe \n", 7), false},
  };
  for (const auto& c : kCases) {
    SCOPED_TRACE(c.name);
    EXPECT_EQ(PartialRecordVouchesFor(ParsePartialRecord(c.text), big), c.vouches);
  }
  EXPECT_TRUE(ParsePartialRecord(Line(kDigestA, "5", "")).empty()) << "an empty path";
}

// The record of a manifest the launcher accepts always fits the one limit
// both the writer and the reader keep, even when it is larger than half the
// manifest's ceiling; a record past the limit is never written.
TEST(PartialRecord, OneLimitForWriterAndReader) {
  // As many files of 250-character paths, each of at least 256 KiB (every
  // one recorded), as a manifest under its ceiling holds.
  Manifest manifest;
  manifest.version = "1.0";
  const auto pathOf = [](std::size_t i) {
    std::string number = std::to_string(i);
    number.insert(0, 6 - number.size(), '0');
    return "game/" + std::string(238, 'p') + "/" + number;
  };
  const std::size_t lineBytes = std::string("file ").size() + Line(kDigestA, "400000", pathOf(0)).size();
  for (std::size_t i = 0; i < kMaxManifestBytes / lineBytes - 1; ++i) {
    manifest.files.push_back({pathOf(i), kDigestA, 400000});
  }
  const std::string manifestText = ManifestText(manifest);
  ASSERT_LE(manifestText.size(), kMaxManifestBytes);
  const Manifest parsed =
      ParseManifest(std::span(reinterpret_cast<const std::uint8_t*>(manifestText.data()), manifestText.size()));
  std::vector<const ManifestFile*> pointers;
  for (const ManifestFile& file : parsed.files) pointers.push_back(&file);

  const std::optional<std::string> text = PartialRecordText(pointers);
  ASSERT_TRUE(text);
  EXPECT_GT(text->size(), kMaxManifestBytes / 2);
  const PartialRecord record = ParsePartialRecord(*text);
  EXPECT_EQ(record.size(), parsed.files.size());
  EXPECT_TRUE(PartialRecordVouchesFor(record, parsed.files.back()));

  // Past the limit: nothing to write.
  const std::size_t over = kMaxPartialRecordBytes / Line(kDigestA, "400000", parsed.files[0].path).size() + 1;
  const std::vector<const ManifestFile*> tooMany(over, &parsed.files.front());
  EXPECT_FALSE(PartialRecordText(tooMany));
}

}  // namespace
}  // namespace launcher
