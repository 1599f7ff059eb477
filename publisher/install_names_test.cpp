#include "publisher/install_names.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace publisher {
namespace {

TEST(PathProblem, AcceptsWhatInstallsOnWindows) {
  for (const std::string& path :
       std::vector<std::string>{"Stonewake Launcher.exe", "game/Stonewake.exe", "game/My Saves/a.dat", "game/.hidden",
                                "game/CONSOLE.txt", "game/COM10", "game/LPT", "game/xCON", "game/a.b.c", "game/ a",
                                "game/a~1", "game/x.partial", "game/del\x7f", "game/a/" + std::string(247, 'n')}) {
    SCOPED_TRACE(path);
    EXPECT_EQ(PathProblem(path), "");
  }
}

TEST(PathProblem, RefusesWithTheReason) {
  struct Case {
    const char* name;
    std::string path;
    std::string reason;  // a part of the message
  };
  const Case kCases[] = {
      {"empty", "", "the path is empty"},
      {"control byte", "game/a\tb", "printable ASCII"},
      {"byte above 0x7f", "game/caf\xc3\xa9", "printable ASCII"},
      {"backslash", "game/a\\b", "backslash"},
      {"colon", "game/a:b", "colon"},
      {"dot dot anywhere", "game/a..b", "\"..\""},
      {"outside game", "data/a.pak", "paths under \"game/\""},
      {"launcher in other case", "stonewake launcher.exe", "paths under \"game/\""},
      {"absolute", "/game/a", "paths under \"game/\""},
      {"game itself", "game/", "empty name"},
      {"double slash", "game//a", "empty name"},
      {"trailing dot", "game/readme.", "\"readme.\" ends in a dot"},
      {"trailing dot on a folder", "game/data./a.pak", "\"data.\" ends in a dot"},
      {"trailing space", "game/a.txt ", "\"a.txt \" ends in a space"},
      {"trailing space on a folder", "game/maps /m1", "\"maps \" ends in a space"},
      {"CON", "game/CON", "reserved device name CON"},
      {"con with extension", "game/con.txt", "reserved device name CON"},
      {"device with two extensions", "game/Nul.tar.gz", "reserved device name NUL"},
      {"device before spaces and an extension", "game/aux .log", "reserved device name AUX"},
      {"PRN as a folder", "game/prn/a", "reserved device name PRN"},
      {"COM1", "game/com1.dat", "reserved device name COM1"},
      {"COM9", "game/COM9", "reserved device name COM9"},
      {"LPT1", "game/Lpt1", "reserved device name LPT1"},
      {"LPT9", "game/lpt9.bin", "reserved device name LPT9"},
      {"console input", "game/CONIN$", "reserved device name CONIN$"},
      {"question mark", "game/what?.txt", "contains '?'"},
      {"star", "game/*.pak", "contains '*'"},
      {"angle", "game/a<b", "contains '<'"},
      {"pipe", "game/a|b", "contains '|'"},
      {"quote", "game/a\"b", "contains '\"'"},
      // Downloaded beside itself as "<name>.partial", which must fit too.
      {"name too long for its download", "game/" + std::string(248, 'n'), "has 248 characters"},
      {"folder name too long", "game/" + std::string(256, 'f') + "/a", "has 256 characters"},
  };
  for (const Case& c : kCases) {
    SCOPED_TRACE(c.name);
    EXPECT_NE(PathProblem(c.path).find(c.reason), std::string::npos) << PathProblem(c.path);
  }
}

TEST(InstallPathProblems, FindsPathsThatCollideOnWindows) {
  struct Case {
    const char* name;
    std::vector<std::string> paths;
    std::vector<std::string> messages;  // each a part of one message, in order
  };
  const Case kCases[] = {
      {"distinct paths", {"game/a", "game/b/c", "Stonewake Launcher.exe"}, {}},
      {"folder and file of different names", {"game/ab", "game/a/b"}, {}},
      {"equal but for case",
       {"game/Data.pak", "game/data.pak"},
       {"game/Data.pak and game/data.pak differ only in letter case"}},
      {"folders equal but for case",
       {"game/Maps/a", "game/maps/a"},
       {"game/Maps/a and game/maps/a differ only in letter case"}},
      {"listed twice", {"game/a", "game/a"}, {"game/a: listed twice"}},
      {"file is a folder of another", {"game/a", "game/a/b"}, {"game/a is a file, but game/a/b needs a folder"}},
      {"file is a folder of another in other case",
       {"game/Data", "game/data/x.pak"},
       {"game/Data is a file, but game/data/x.pak needs a folder"}},
      {"file is a deeper folder",
       {"game/a/b", "game/a/b/c/d"},
       {"game/a/b is a file, but game/a/b/c/d needs a folder"}},
      {"download name of another file",
       {"game/x", "game/X.partial"},
       {"game/X.partial would be overwritten by the launcher while it downloads game/x"}},
      {"bad names are reported with their path", {"game/ok", "game/aux.ini"}, {"game/aux.ini: the name"}},
  };
  for (const Case& c : kCases) {
    SCOPED_TRACE(c.name);
    const std::vector<std::string> problems = InstallPathProblems(c.paths);
    ASSERT_EQ(problems.size(), c.messages.size()) << (problems.empty() ? "" : problems.front());
    for (std::size_t i = 0; i < problems.size(); ++i) {
      EXPECT_NE(problems[i].find(c.messages[i]), std::string::npos) << problems[i];
    }
  }
}

TEST(Printable, EscapesWhatATerminalWouldActOn) {
  EXPECT_EQ(Printable("game/a b.txt"), "game/a b.txt");
  EXPECT_EQ(Printable("a\x1b[2Jb\xff\\"), "a\\x1B[2Jb\\xFF\\\\");
}

}  // namespace
}  // namespace publisher
