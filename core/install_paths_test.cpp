#include "core/install_paths.h"

#include <gtest/gtest.h>

#include <string>
#include <tuple>
#include <vector>

namespace launcher {
namespace {

TEST(CheckInstallPath, NamesTheFirstFaultAndItsName) {
  struct Case {
    std::string path;
    PathFault fault;
    std::string name;
  };
  const std::string longest(247, 'a');
  const Case kCases[] = {
      {"game/data/base.pak", PathFault::None, ""},
      {"Stonewake Launcher.exe", PathFault::None, ""},
      {"game/My Saves/.hidden", PathFault::None, ""},
      {"game/" + longest, PathFault::None, ""},
      {"game/" + std::string(255, 'f') + "/x", PathFault::None, ""},
      {"game/conx/com0/lpt/nul1", PathFault::None, ""},
      {"", PathFault::Empty, ""},
      {"/game/x", PathFault::StartsWithSlash, ""},
      {"game\\x", PathFault::BackslashOrColon, ""},
      {"game/a\tb", PathFault::NotPrintableAscii, ""},
      {"game/a..b", PathFault::DotDot, ""},
      {"installed.txt", PathFault::OutsideInstall, ""},
      {"game/", PathFault::EmptyName, ""},
      {"game/a//b", PathFault::EmptyName, ""},
      {"game/a/", PathFault::EmptyName, ""},
      {"game/a|b/c", PathFault::ForbiddenCharacter, "a|b"},
      {"game/*", PathFault::ForbiddenCharacter, "*"},
      {"game/./x", PathFault::EndsInDotOrSpace, "."},
      {"game/x.", PathFault::EndsInDotOrSpace, "x."},
      {"game/sub /x", PathFault::EndsInDotOrSpace, "sub "},
      {"game/NUL", PathFault::DeviceName, "NUL"},
      {"game/data/Con.tar.gz", PathFault::DeviceName, "Con.tar.gz"},
      {"game/CON .log", PathFault::DeviceName, "CON .log"},
      {"game/lpt9/readme", PathFault::DeviceName, "lpt9"},
      {"game/conin$.txt", PathFault::DeviceName, "conin$.txt"},
      {"game/" + longest + "b", PathFault::NameTooLong, longest + "b"},
      {"game/" + std::string(256, 'f') + "/x", PathFault::NameTooLong, std::string(256, 'f')},
  };
  for (const auto& c : kCases) {
    SCOPED_TRACE(c.path);
    const PathCheck check = CheckInstallPath(c.path);
    EXPECT_EQ(check.fault, c.fault);
    EXPECT_EQ(std::string(check.name), c.name);
    // The manifest's own rule is the first part of this one.
    EXPECT_EQ(IsManifestPathAllowed(c.path), c.fault == PathFault::None || c.fault >= PathFault::EmptyName);
  }
}

TEST(FindPathClashes, FindsEveryPairThatCannotBeInstalledTogether) {
  const std::vector<std::string> paths = {
      "game/a.pak",          // 0
      "game/A.PAK",          // 1: same file as 0
      "game/a.pak",          // 2: same file as 0
      "game/a.pak.partial",  // 3: where 0 is downloaded
      "game/data",           // 4: a folder of 5
      "game/Data/x.pak",     // 5
      "game/b.pak",          // 6: no clash
  };
  std::vector<std::tuple<PathClash::Kind, std::size_t, std::size_t>> found;
  for (const PathClash& clash : FindPathClashes(paths)) found.emplace_back(clash.kind, clash.first, clash.second);
  using Kind = PathClash::Kind;
  const std::vector<std::tuple<PathClash::Kind, std::size_t, std::size_t>> expected = {
      {Kind::SameFile, 0, 1}, {Kind::SameFile, 0, 2}, {Kind::Partial, 0, 3},
      {Kind::Partial, 1, 3},  {Kind::Partial, 2, 3},  {Kind::Folder, 4, 5},
  };
  EXPECT_EQ(found, expected);
  EXPECT_TRUE(FindPathClashes(std::vector<std::string>{"game/a", "game/ab", "game/a b/c"}).empty());
}

}  // namespace
}  // namespace launcher
