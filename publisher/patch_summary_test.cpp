#include "publisher/patch_summary.h"

#include <gtest/gtest.h>

namespace publisher {
namespace {

launcher::ManifestFile File(const std::string& path, char digit, std::uint64_t size) {
  return {path, std::string(64, digit), size};
}

TEST(PatchSummary, ComparesByPathAsALauncherWould) {
  const launcher::Manifest published{"1.0.0",
                                     "",
                                     false,
                                     {File("Stonewake Launcher.exe", 'a', 10), File("game/a.pak", 'b', 100),
                                      File("game/b.pak", 'c', 200), File("game/old.txt", 'd', 5)}};
  // A changed file, an unchanged one listed twice, a new one, a moved one
  // (same content under a new path is still a download), and the launcher
  // no longer carried (never removed by a release).
  const launcher::Manifest next{
      "1.1.0",
      "",
      false,
      {File("game/a.pak", 'e', 150), File("game/b.pak", 'c', 200), File("game/b.pak", 'c', 200),
       File("game/new.pak", 'f', 1048576), File("game/moved.txt", 'd', 5)}};
  const PatchSummary s = SummarisePatch(published, next, 321);

  ASSERT_EQ(s.added.size(), 2u);
  EXPECT_EQ(s.added[0].path, "game/new.pak");
  EXPECT_EQ(s.added[1].path, "game/moved.txt");
  ASSERT_EQ(s.changed.size(), 1u);
  EXPECT_EQ(s.changed[0].path, "game/a.pak");
  EXPECT_EQ(s.removed, std::vector<std::string>{"game/old.txt"});
  EXPECT_EQ(s.fetchBytes, 150u + 1048576u + 5u);

  EXPECT_EQ(PatchSummaryText(s, false),
            "players on 1.0.0 will fetch 3 files, shown to them as 1 MB (1.0 MiB): 2 new, 1 changed, 1 removed; the "
            "manifest of 1.1.0 is 321 bytes, "
            "fetched once by each launcher (an open one asks for the 147-byte signature every 15 seconds and fetches "
            "the manifest again only when that changes)\n");
  const std::string listed = PatchSummaryText(s, true);
  EXPECT_NE(listed.find("\n  new      game/new.pak (1.0 MiB)\n"), std::string::npos) << listed;
  EXPECT_NE(listed.find("\n  changed  game/a.pak (150 bytes)\n"), std::string::npos) << listed;
  EXPECT_NE(listed.find("\n  new      game/moved.txt (5 bytes)\n"), std::string::npos) << listed;
  EXPECT_NE(listed.find("\n  removed  game/old.txt\n"), std::string::npos) << listed;
}

TEST(PatchSummary, SameReleaseAgainFetchesNothing) {
  const launcher::Manifest release{"1.0.0", "", false, {File("game/a.pak", 'b', 100)}};
  const PatchSummary s = SummarisePatch(release, release, 100);
  EXPECT_TRUE(s.added.empty());
  EXPECT_TRUE(s.changed.empty());
  EXPECT_TRUE(s.removed.empty());
  EXPECT_EQ(s.fetchBytes, 0u);
  EXPECT_EQ(PatchSummaryText(s, true),
            "players on 1.0.0 will fetch 0 files: 0 new, 0 changed, 0 removed; the manifest of 1.0.0 is 100 bytes, "
            "fetched once by each launcher (an open one asks for the 147-byte signature every 15 seconds and fetches "
            "the manifest again only when that changes)\n");
}

// Players start the launcher the release carries, which installs itself:
// the first install fetches the game alone, and says so in the launcher's
// own figure.
TEST(PatchSummary, FirstInstallLeavesOutTheLauncherPlayersStart) {
  const launcher::Manifest next{"1.0.0",
                                "",
                                false,
                                {File("Stonewake Launcher.exe", 'a', 4613734), File("game/a.pak", 'b', 240123904),
                                 File("game/Stonewake.exe", 'c', 300)}};
  const PatchSummary s = SummarisePatch(launcher::Manifest{}, next, 400);
  EXPECT_EQ(s.fetchBytes, 240123904u + 300u);
  EXPECT_EQ(s.launcherAlreadyThere, 4613734u);
  EXPECT_EQ(PatchSummaryText(s, false),
            "no release in the tree yet: a first install fetches 2 files, shown to players as 229 MB (229.0 MiB); not "
            "counted: the launcher (4.4 MiB), which installs itself when players start this release's launcher; the "
            "manifest of 1.0.0 is 400 bytes, "
            "fetched once by each launcher (an open one asks for the 147-byte signature every 15 seconds and fetches "
            "the manifest again only when that changes)\n");
}

TEST(PatchSummary, SizesInTheirUnits) {
  struct Case {
    std::uint64_t bytes;
    const char* listed;
    const char* launcher;
  };
  const Case kCases[] = {
      {1, "1 byte", "1 MB"},  // the launcher never shows 0 MB for a download
      {1023, "1023 bytes", "1 MB"},
      {1024, "1.0 KiB", "1 MB"},
      {1048575, "1024.0 KiB", "1 MB"},
      {1048576, "1.0 MiB", "1 MB"},
      {2097151, "2.0 MiB", "1 MB"},  // the launcher rounds down
      {1073741824, "1.0 GiB", "1024 MB"},
  };
  for (const auto& c : kCases) {
    SCOPED_TRACE(c.bytes);
    EXPECT_EQ(SizeText(c.bytes), c.listed);
    EXPECT_EQ(LauncherSizeText(c.bytes), c.launcher);
  }
}

}  // namespace
}  // namespace publisher
