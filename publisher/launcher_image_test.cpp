#include "publisher/launcher_image.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "test_launcher_image.h"

namespace publisher {
namespace {

const std::string kKey = std::string(120, 'c') + "d4e5f6c9";
const std::string kTrust = launcher::ReleaseTrustText({kKey, "http://127.0.0.1:18080"});

TEST(ReadLauncherFacts, ReadsTheVersionAndTheTrustResource) {
  struct Case {
    const char* name;
    testing::TestLauncher launcher;
    std::optional<std::string> version;
    bool trusted;
  };
  const Case kCases[] = {
      {"both", {kTrust, true, {2, 5, 2, 0}}, "2.5.2", true},
      {"a fourth version part", {kTrust, true, {2, 6, 0, 7}}, "2.6.0.7", true},
      {"no version resource", {kTrust, false, {}}, std::nullopt, true},
      {"no trust resource", {std::nullopt, true, {2, 5, 1, 0}}, "2.5.1", false},
      {"a trust text of another form", {"key " + kKey + "\n", true, {2, 5, 1, 0}}, "2.5.1", false},
  };
  for (const Case& c : kCases) {
    SCOPED_TRACE(c.name);
    const LauncherFacts facts = ReadLauncherFacts(testing::TestLauncherImage(c.launcher));
    EXPECT_EQ(facts.version, c.version);
    ASSERT_EQ(facts.trust.has_value(), c.trusted);
    if (c.trusted) {
      EXPECT_EQ(facts.trust->publicKeyHex, kKey);
      EXPECT_EQ(facts.trust->serverBase, "http://127.0.0.1:18080");
    }
  }
}

// Whatever a studio passes as --launcher is read without trusting its
// offsets: every cut of a real image reads nothing wrong (and, under the
// sanitizers, nothing outside the bytes).
TEST(ReadLauncherFacts, ACutOrDamagedImageReadsNothingWrong) {
  const std::vector<std::uint8_t> image = testing::TestLauncherImage({kTrust, true, {2, 5, 2, 0}});
  for (std::size_t size = 0; size < image.size(); ++size) {
    const LauncherFacts facts = ReadLauncherFacts(std::span(image.data(), size));
    if (facts.trust) {
      EXPECT_EQ(facts.trust->publicKeyHex, kKey) << size;
    }
    if (facts.version) {
      EXPECT_EQ(*facts.version, "2.5.2") << size;
    }
  }
  for (std::size_t at = 0; at < 0x200; ++at) {
    std::vector<std::uint8_t> damaged = image;
    damaged[at] ^= 0xFF;
    const LauncherFacts facts = ReadLauncherFacts(damaged);
    if (facts.trust) {
      EXPECT_EQ(facts.trust->publicKeyHex, kKey) << at;
    }
  }
  EXPECT_FALSE(ReadLauncherFacts(std::vector<std::uint8_t>{'M', 'Z'}).trust);
}

TEST(LauncherTrustProblems, NamesWhatWouldStrandOrMovePlayers) {
  const LauncherFacts facts = ReadLauncherFacts(testing::TestLauncherImage({kTrust, true, {2, 5, 2, 0}}));
  EXPECT_EQ(LauncherTrustLine(facts), "launcher 2.5.2 trusts key cccccccc...d4e5f6c9 and asks http://127.0.0.1:18080");
  const std::string other(128, 'a');
  struct Case {
    const char* name;
    std::string signingKey;
    bool rotate;
    std::string server;
    std::vector<std::string> problems;  // the start of each
  };
  const Case kCases[] = {
      {"the signing key", kKey, false, "", {}},
      {"the signing key and server", kKey, false, "http://127.0.0.1:18080", {}},
      {"another key",
       other,
       false,
       "",
       {"launcher 2.5.2 trusts key cccccccc...d4e5f6c9, not the key this release "
        "is signed with (aaaaaaaa...aaaaaaaa)"}},
      {"another key, rotating", other, true, "", {}},
      {"another server",
       kKey,
       false,
       "http://releases.example.net",
       {"launcher 2.5.2 asks http://127.0.0.1:18080, not http://releases.example.net (--server)"}},
      {"both", other, false, "http://releases.example.net", {"launcher 2.5.2 trusts key", "launcher 2.5.2 asks"}},
  };
  for (const Case& c : kCases) {
    SCOPED_TRACE(c.name);
    const std::vector<std::string> problems = LauncherTrustProblems(facts, c.signingKey, c.rotate, c.server);
    ASSERT_EQ(problems.size(), c.problems.size());
    for (std::size_t i = 0; i < problems.size(); ++i)
      EXPECT_TRUE(problems[i].starts_with(c.problems[i])) << problems[i];
  }

  // A CDN's release server: the path is part of the address.
  const LauncherFacts cdn = ReadLauncherFacts(testing::TestLauncherImage(
      {launcher::ReleaseTrustText({kKey, "https://cdn.example.net/stonewake"}), true, {2, 5, 2, 0}}));
  struct ServerCase {
    const char* server;
    std::string problem;  // empty: none
  };
  const ServerCase kServers[] = {
      {"https://cdn.example.net/stonewake", ""},
      {"https://cdn.example.net",
       "launcher 2.5.2 asks https://cdn.example.net/stonewake, not https://cdn.example.net (--server): every player "
       "who takes it would ask https://cdn.example.net/stonewake from then on (the same server, another folder: "
       "players would fetch https://cdn.example.net/stonewake/latest/manifest.txt, not "
       "https://cdn.example.net/latest/manifest.txt). Build the launcher with "
       "-DSTONEWAKE_RELEASE_BASE_URL=https://cdn.example.net"},
      {"https://cdn.example.net/stonewake-beta", "(the same server, another folder"},
      {"https://cdn.example.net/games/stonewake", "(the same server, another folder"},
      {"http://cdn.example.net/stonewake",
       "launcher 2.5.2 asks https://cdn.example.net/stonewake, not http://cdn.example.net/stonewake (--server): "
       "every player who takes it would ask https://cdn.example.net/stonewake from then on. Build"},
  };
  for (const ServerCase& c : kServers) {
    SCOPED_TRACE(c.server);
    const std::vector<std::string> problems = LauncherTrustProblems(cdn, kKey, false, c.server);
    ASSERT_EQ(problems.size(), c.problem.empty() ? 0u : 1u);
    if (!problems.empty()) {
      EXPECT_NE(problems[0].find(c.problem), std::string::npos) << problems[0];
    }
  }

  const LauncherFacts bare = ReadLauncherFacts(testing::TestLauncherImage({std::nullopt, true, {2, 5, 2, 0}}));
  EXPECT_EQ(LauncherTrustLine(bare), "launcher 2.5.2 carries no release key or server address");
  // Nothing to check is refused even when rotating.
  EXPECT_EQ(LauncherTrustProblems(bare, kKey, true, "").size(), 1u);
}

}  // namespace
}  // namespace publisher
