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
            "players on 1.0.0 will fetch 3 files, 1.0 MiB (2 new, 1 changed, 1 removed); the manifest of 1.1.0 is 321 "
            "bytes, fetched by every open launcher every 15 seconds\n");
  const std::string listed = PatchSummaryText(s, true);
  EXPECT_NE(listed.find("\n  new      game/new.pak (1.0 MiB)\n"), std::string::npos) << listed;
  EXPECT_NE(listed.find("\n  changed  game/a.pak (0.0 MiB)\n"), std::string::npos) << listed;
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
            "players on 1.0.0 will fetch 0 files, 0.0 MiB (0 new, 0 changed, 0 removed); the manifest of 1.0.0 is 100 "
            "bytes, fetched by every open launcher every 15 seconds\n");
}

}  // namespace
}  // namespace publisher
