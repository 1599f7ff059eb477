#include "core/manifest.h"

#include <gtest/gtest.h>

#include <string>

#include "core/text.h"
#include "test_support/error_message.h"

namespace launcher {
namespace {

const std::string kDigestA(64, 'a');
const std::string kDigestB = "0123456789abcdef0123456789abcdef0123456789abcdef0123456789abcdef";

Manifest Parse(const std::string& text) { return ParseManifest(AsBytes(text)); }

bool Rejects(const std::string& text) {
  const std::wstring message = testing::ErrorMessageOf([&] { Parse(text); });
  if (message.empty()) return false;
  EXPECT_EQ(message, L"The release information could not be read.");
  return true;
}

std::string FileLine(const std::string& path, const std::string& size = "5") {
  return "file " + kDigestA + " " + size + " " + path;
}

// A minimal valid manifest around `body` lines (each without line end).
std::string Wrap(const std::string& body, const std::string& eol = "\n") {
  return "stonewake-manifest 1" + eol + body + "end" + eol;
}

TEST(ParseManifest, ReadsTheExample) {
  const Manifest m = Parse(
      "stonewake-manifest 1\n"
      "version 1.4.2\n"
      "commit 9f3c2e1\n"
      "file " + kDigestA + " 18342912 game/Stonewake.exe\n"
      "file " + kDigestB + " 1048576 game/data/base.pak\n"
      "file " + kDigestA + " 2730496 Stonewake Launcher.exe\n"
      "end\n");
  EXPECT_EQ(m.version, "1.4.2");
  EXPECT_EQ(m.commit, "9f3c2e1");
  EXPECT_FALSE(m.rollback);
  ASSERT_EQ(m.files.size(), 3u);
  EXPECT_EQ(m.files[0].path, "game/Stonewake.exe");
  EXPECT_EQ(m.files[0].sha256, kDigestA);
  EXPECT_EQ(m.files[0].size, 18342912u);
  EXPECT_EQ(m.files[1].sha256, kDigestB);
  EXPECT_EQ(m.files[2].path, "Stonewake Launcher.exe");
}

TEST(ParseManifest, AcceptedVariants) {
  struct Case {
    const char* name;
    std::string text;
    std::string version;
    bool rollback;
    std::string firstPath;
    std::uint64_t firstSize;
    std::size_t fileCount;
  };
  const std::string file = FileLine("game/a.dat") + "\n";
  const Case kCases[] = {
      {"CR LF line ends", Wrap("version 1\r\n" + FileLine("game/a.dat") + "\r\n", "\r\n"), "1", false, "game/a.dat", 5, 1},
      {"no line end after end", "stonewake-manifest 1\nversion 1\n" + file + "end", "1", false, "game/a.dat", 5, 1},
      {"text after end ignored", Wrap("version 1\n" + file) + "garbage\n\n\x01\xff", "1", false, "game/a.dat", 5, 1},
      {"version after files", Wrap(file + "version 2\n"), "2", false, "game/a.dat", 5, 1},
      {"later version wins", Wrap("version 1\nversion 2\n" + file), "2", false, "game/a.dat", 5, 1},
      {"bare version keeps earlier", Wrap("version 1.2\nversion\n" + file), "1.2", false, "game/a.dat", 5, 1},
      {"words after version ignored", Wrap("version 1.2 beta\n" + file), "1.2", false, "game/a.dat", 5, 1},
      {"leading white space before key", Wrap(" \tversion 3\n" + file), "3", false, "game/a.dat", 5, 1},
      {"rollback false still sets rollback", Wrap("version 1\nrollback false\n" + file), "1", true, "game/a.dat", 5, 1},
      {"bare rollback", Wrap("rollback\nversion 1\n" + file), "1", true, "game/a.dat", 5, 1},
      {"size glued to path", Wrap("version 1\nfile " + kDigestA + " 5game/a.dat\n"), "1", false, "game/a.dat", 5, 1},
      {"inner spaces in path", Wrap("version 1\n" + FileLine("game/My Saves/a.dat") + "\n"), "1", false, "game/My Saves/a.dat", 5, 1},
      {"several blanks before path", Wrap("version 1\nfile " + kDigestA + "\t 7 \t game/a\n"), "1", false, "game/a", 7, 1},
      {"launcher path", Wrap("version 1\n" + FileLine("Stonewake Launcher.exe") + "\n"), "1", false, "Stonewake Launcher.exe", 5, 1},
      {"duplicates kept", Wrap("version 1\n" + file + file), "1", false, "game/a.dat", 5, 2},
      {"max size", Wrap("version 1\n" + FileLine("game/a", "18446744073709551615") + "\n"), "1", false, "game/a", 18446744073709551615u, 1},
      {"zero size", Wrap("version 1\n" + FileLine("game/a", "0") + "\n"), "1", false, "game/a", 0, 1},
      {"version with high bytes", Wrap("version 1\xff\x80\n" + file), "1\xff\x80", false, "game/a.dat", 5, 1},
  };
  for (const auto& c : kCases) {
    SCOPED_TRACE(c.name);
    Manifest m;
    ASSERT_NO_THROW(m = Parse(c.text));
    EXPECT_EQ(m.version, c.version);
    EXPECT_EQ(m.rollback, c.rollback);
    ASSERT_EQ(m.files.size(), c.fileCount);
    EXPECT_EQ(m.files[0].path, c.firstPath);
    EXPECT_EQ(m.files[0].size, c.firstSize);
  }
}

TEST(ParseManifest, Rejections) {
  struct Case {
    const char* name;
    std::string text;
  };
  const std::string file = FileLine("game/a.dat") + "\n";
  const std::string ok = "version 1\n" + file;
  const Case kCases[] = {
      {"empty body", ""},
      {"header only", "stonewake-manifest 1\n"},
      {"header with trailing space", "stonewake-manifest 1 \n" + ok + "end\n"},
      {"header version 2", "stonewake-manifest 2\n" + ok + "end\n"},
      {"byte order mark", "\xEF\xBB\xBFstonewake-manifest 1\n" + ok + "end\n"},
      {"missing end", "stonewake-manifest 1\n" + ok},
      {"end with two carriage returns", "stonewake-manifest 1\n" + ok + "end\r\r\n"},
      {"end with space after", "stonewake-manifest 1\n" + ok + "end \n"},
      {"end with space before", "stonewake-manifest 1\n" + ok + " end\n"},
      {"empty line", "stonewake-manifest 1\nversion 1\n\n" + file + "end\n"},
      {"white-space line", "stonewake-manifest 1\nversion 1\n \t\n" + file + "end\n"},
      {"unknown key", Wrap(ok + "comment hi\n")},
      {"key in upper case", Wrap("VERSION 1\n" + file)},
      {"no version", Wrap(file)},
      {"bare version only", Wrap("version\n" + file)},
      {"no files", Wrap("version 1\n")},
      {"digest 63 chars", Wrap("version 1\nfile " + std::string(63, 'a') + " 5 game/a\n")},
      {"digest 65 chars", Wrap("version 1\nfile " + std::string(65, 'a') + " 5 game/a\n")},
      {"digest upper case", Wrap("version 1\nfile " + std::string(63, 'a') + "A 5 game/a\n")},
      {"digest not hex", Wrap("version 1\nfile " + std::string(63, 'a') + "g 5 game/a\n")},
      {"missing digest", Wrap("version 1\nfile\n")},
      {"missing size", Wrap("version 1\nfile " + kDigestA + "\n")},
      {"size not a number", Wrap("version 1\nfile " + kDigestA + " x game/a\n")},
      {"negative size", Wrap("version 1\nfile " + kDigestA + " -5 game/a\n")},
      {"size over 64 bits", Wrap("version 1\n" + FileLine("game/a", "18446744073709551616") + "\n")},
      {"empty path", Wrap("version 1\nfile " + kDigestA + " 5\n")},
      {"only blanks after size", Wrap("version 1\nfile " + kDigestA + " 5   \n")},
      {"bad path", Wrap("version 1\n" + FileLine("game\\a") + "\n")},
      // The blank belongs to the path, and Windows would store the name
      // without it.
      {"trailing space in path", Wrap("version 1\n" + FileLine("game/a.dat ") + "\n")},
  };
  for (const auto& c : kCases) {
    SCOPED_TRACE(c.name);
    EXPECT_TRUE(Rejects(c.text));
  }
}

// Signed manifests whose files a player's install cannot hold as written:
// refused before anything is fetched, so no download goes to a device or
// to a name Windows changes, and no patch repeats for ever.
TEST(ParseManifest, RefusesWhatWindowsCannotInstall) {
  const auto line = [](const std::string& digest, const std::string& path) {
    return "file " + digest + " 5 " + path + "\n";
  };
  const std::string longName(247, 'n');
  struct Case {
    const char* name;
    std::string files;
    bool accepted;
  };
  const Case kCases[] = {
      {"device name", line(kDigestA, "game/aux.txt"), false},
      {"device name as a folder", line(kDigestA, "game/data/lpt1"), false},
      {"device name in capitals", line(kDigestA, "game/COM1.bin"), false},
      {"console device", line(kDigestA, "game/conout$"), false},
      {"empty name", line(kDigestA, "game//x"), false},
      {"dot name", line(kDigestA, "game/./x"), false},
      {"the game folder itself", line(kDigestA, "game/"), false},
      {"name ending in a dot", line(kDigestA, "game/x."), false},
      {"folder ending in a dot", line(kDigestA, "game/sub./x"), false},
      {"character Windows refuses", line(kDigestA, "game/a?b"), false},
      {"name too long for its .partial", line(kDigestA, "game/" + longName + "x"), false},
      {"longest name that downloads", line(kDigestA, "game/" + longName), true},
      {"same file in two spellings, two digests", line(kDigestA, "game/a.pak") + line(kDigestB, "game/A.PAK"), false},
      {"same path, two digests", line(kDigestA, "game/a.pak") + line(kDigestB, "game/a.pak"), false},
      {"same path, one digest", line(kDigestA, "game/a.pak") + line(kDigestA, "game/a.pak"), true},
      {"same file in two spellings, one digest", line(kDigestA, "game/a.pak") + line(kDigestA, "game/A.pak"), true},
      {"file beside its .partial", line(kDigestA, "game/a.pak") + line(kDigestB, "game/A.pak.partial"), false},
      {"file that is another's folder", line(kDigestA, "game/data") + line(kDigestB, "game/Data/x"), false},
      {"names that only look alike", line(kDigestA, "game/com10") + line(kDigestB, "game/auxiliary.txt"), true},
  };
  for (const auto& c : kCases) {
    SCOPED_TRACE(c.name);
    const std::string text = Wrap("version 1\n" + c.files);
    EXPECT_EQ(Rejects(text), !c.accepted);
  }
}

// What a refusal says, for the publisher's verify to name: the line a
// launcher stops at, counted as the launcher counts lines, and why.
TEST(ReadManifest, NamesTheLineAndTheReasonOfARefusal) {
  using Kind = ManifestRefusal::Kind;
  struct Case {
    const char* name;
    std::string text;
    Kind kind;
    std::size_t line;
    std::string lineText;
    std::string reason;  // its beginning
  };
  const std::string file = FileLine("game/a.dat") + "\n";
  const Case kCases[] = {
      {"another header", "stonewake-manifest 2\nversion 1\n" + file + "end\n", Kind::Grammar, 1, "stonewake-manifest 2",
       "the first line is not"},
      {"a body of one long line", std::string(100000, 'x'), Kind::Grammar, 1, std::string(kMaxRefusedLineChars, 'x'),
       "the first line is not"},
      {"unknown key after CR LF lines", Wrap("version 1\r\ncomment x\r\n", "\r\n"), Kind::Grammar, 3, "comment x",
       "not a line of the manifest"},
      {"bad digest", Wrap("version 1\n" + file + "file " + std::string(64, 'A') + " 5 game/b\n"), Kind::Grammar, 4,
       "file " + std::string(64, 'A') + " 5 game/b", "the digest is not"},
      {"bad size", Wrap("version 1\nfile " + kDigestA + " x game/a\n"), Kind::Grammar, 3,
       "file " + kDigestA + " x game/a", "the size is not"},
      {"missing end", "stonewake-manifest 1\nversion 1\n" + file, Kind::Grammar, 0, "", "no \"end\" line"},
      {"no version", Wrap(file), Kind::Grammar, 0, "", "no version"},
      {"no file", Wrap("version 1\n"), Kind::Grammar, 0, "", "no file line"},
      // A line of no known shape further down is what a studio must mend
      // first: the paths are judged once every line has been read.
      {"bad path, then an unknown line", Wrap("version 1\n" + FileLine("game/aux") + "\nbogus\n"), Kind::Grammar, 4,
       "bogus", "not a line"},
      {"bad path", Wrap("version 1\n" + file + FileLine("game/aux") + "\n"), Kind::Paths, 4, FileLine("game/aux"),
       "the path cannot be installed"},
      {"paths that clash", Wrap("version 1\n" + file + "file " + kDigestB + " 5 game/A.DAT\n"), Kind::Paths, 0, "",
       "two paths cannot be installed together"},
  };
  for (const Case& c : kCases) {
    SCOPED_TRACE(c.name);
    const ManifestReading reading = ReadManifest(AsBytes(c.text));
    ASSERT_TRUE(reading.refusal.has_value());
    EXPECT_EQ(reading.refusal->kind, c.kind);
    EXPECT_EQ(reading.refusal->line, c.line);
    EXPECT_EQ(reading.refusal->text, c.lineText);
    EXPECT_EQ(reading.refusal->reason.rfind(c.reason, 0), 0u) << reading.refusal->reason;
    // Each path at fault can be named: every file line was read.
    if (c.kind == Kind::Paths) {
      EXPECT_EQ(reading.manifest.files.size(), 2u);
    }
  }
}

TEST(IsManifestPathAllowed, PathRule) {
  struct Case {
    std::string path;
    bool allowed;
  };
  const Case kCases[] = {
      {"Stonewake Launcher.exe", true},
      {"game/x", true},
      {"game/", true},
      {"game/My Saves/a.dat", true},
      {"game/a\x7f", true},
      {"game/a.b.c", true},
      {"", false},
      {"stonewake launcher.exe", false},
      {"Stonewake Launcher.exe ", false},
      {"Game/x", false},
      {"game", false},
      {"game\\x", false},
      {"/game/x", false},
      {"game/../x", false},
      {"game/a..b", false},
      {"game/..", false},
      {"C:/game/x", false},
      {"game/a:b", false},
      {"game/a\tb", false},
      {std::string("game/a\0b", 8), false},
      {"game/\x80", false},
      {"game/\xff", false},
      {"installed.txt", false},
      {"gamex/y", false},
  };
  for (const auto& c : kCases) {
    SCOPED_TRACE(::testing::PrintToString(c.path));
    EXPECT_EQ(IsManifestPathAllowed(c.path), c.allowed);
  }
}

}  // namespace
}  // namespace launcher
