#include "core/verified_record.h"

#include <gtest/gtest.h>

#include <string>

namespace launcher {
namespace {

const std::string kDigestA(64, 'a');
const std::string kDigestB = "0123456789abcdef0123456789abcdef0123456789abcdef0123456789abcdef";

VerifiedRecord Example() {
  VerifiedRecord record;
  record.check = 7;
  record.entries.push_back({"game/Stonewake.exe", kDigestA, {18342912, 133473024000000000}, 7});
  record.entries.push_back({"game/My Saves/read me.txt", kDigestB, {0, 0}, 1});
  record.entries.push_back({"Stonewake Launcher.exe", kDigestB, {UINT64_MAX, UINT64_MAX}, 0});
  return record;
}

void ExpectSame(const VerifiedRecord& a, const VerifiedRecord& b) {
  EXPECT_EQ(a.check, b.check);
  ASSERT_EQ(a.entries.size(), b.entries.size());
  for (std::size_t i = 0; i < a.entries.size(); ++i) {
    SCOPED_TRACE(a.entries[i].path);
    EXPECT_EQ(a.entries[i].path, b.entries[i].path);
    EXPECT_EQ(a.entries[i].sha256, b.entries[i].sha256);
    EXPECT_EQ(a.entries[i].stamp, b.entries[i].stamp);
    EXPECT_EQ(a.entries[i].check, b.entries[i].check);
  }
}

TEST(VerifiedRecord, WrittenTextParsesBackToTheSameRecord) {
  const VerifiedRecord record = Example();
  const VerifiedRecordParse parsed = ParseVerifiedRecord(VerifiedRecordText(record));
  ASSERT_TRUE(parsed.record) << parsed.line << ": " << parsed.reason;
  ExpectSame(*parsed.record, record);

  const VerifiedRecordParse empty = ParseVerifiedRecord(VerifiedRecordText({}));
  ASSERT_TRUE(empty.record);
  EXPECT_EQ(empty.record->check, 0u);
  EXPECT_TRUE(empty.record->entries.empty());
}

TEST(VerifiedRecord, TheTextIsTheDocumentedGrammar) {
  VerifiedRecord record;
  record.check = 3;
  record.entries.push_back({"game/a b.pak", kDigestA, {5, 1234}, 2});
  EXPECT_EQ(VerifiedRecordText(record), "stonewake-verified 1\ncheck 3\n" + kDigestA + " 5 1234 2 game/a b.pak\nend\n");
}

TEST(VerifiedRecord, RefusesWhatTheWriterNeverWrites) {
  const std::string head = "stonewake-verified 1\ncheck 5\n";
  const std::string entry = kDigestA + " 5 100 5 game/a.pak\n";
  struct Case {
    const char* name;
    std::string text;
    std::size_t line;
  };
  const Case kCases[] = {
      {"empty", "", 1},
      {"foreign header", "stonewake-manifest 1\ncheck 5\nend\n", 1},
      {"newer format", "stonewake-verified 2\ncheck 5\nend\n", 1},
      {"header only", "stonewake-verified 1\n", 2},
      {"header cut", "stonewake-verif", 1},
      {"CR LF line ends", "stonewake-verified 1\r\ncheck 5\r\nend\r\n", 1},
      {"no check line", "stonewake-verified 1\nend\n", 2},
      {"check with a sign", "stonewake-verified 1\ncheck +5\nend\n", 2},
      {"check with a leading zero", "stonewake-verified 1\ncheck 05\nend\n", 2},
      {"check too large", "stonewake-verified 1\ncheck 18446744073709551616\nend\n", 2},
      {"no end", head + entry, 4},
      {"cut inside an entry", head + entry.substr(0, 70), 3},
      {"bytes after the end", head + "end\nx", 4},
      {"a second end", head + "end\nend\n", 4},
      {"upper-case digest", head + std::string(64, 'A') + " 5 100 5 game/a.pak\nend\n", 3},
      {"short digest", head + std::string(63, 'a') + " 5 100 5 game/a.pak\nend\n", 3},
      {"size not a number", head + kDigestA + " 5x 100 5 game/a.pak\nend\n", 3},
      {"time too large", head + kDigestA + " 5 99999999999999999999 5 game/a.pak\nend\n", 3},
      {"two spaces", head + kDigestA + " 5  100 5 game/a.pak\nend\n", 3},
      {"too few fields", head + kDigestA + " 5 100 game/a.pak\nend\n", 3},
      {"no path", head + kDigestA + " 5 100 5 \nend\n", 3},
      {"control byte in the path", head + kDigestA + " 5 100 5 game/a\r\nend\n", 3},
      {"checked after the record", head + kDigestA + " 5 100 6 game/a.pak\nend\n", 3},
      {"path listed twice", head + entry + entry + "end\n", 4},
  };
  for (const Case& c : kCases) {
    SCOPED_TRACE(c.name);
    const VerifiedRecordParse parsed = ParseVerifiedRecord(c.text);
    EXPECT_FALSE(parsed.record);
    EXPECT_EQ(parsed.line, c.line);
    EXPECT_FALSE(parsed.reason.empty());
  }
}

TEST(VerifiedRecord, PathsDifferingInLetterCaseAreTwoEntries) {
  // Paths are the manifest's, byte for byte; whether two name one file is
  // for the reader of the record to decide.
  const std::string text =
      "stonewake-verified 1\ncheck 1\n" + kDigestA + " 1 2 1 game/A.pak\n" + kDigestA + " 1 2 1 game/a.pak\nend\n";
  const VerifiedRecordParse parsed = ParseVerifiedRecord(text);
  ASSERT_TRUE(parsed.record);
  EXPECT_EQ(parsed.record->entries.size(), 2u);
}

}  // namespace
}  // namespace launcher
