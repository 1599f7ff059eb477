#include "core/release_trust.h"

#include <gtest/gtest.h>

#include <string>

namespace launcher {
namespace {

const std::string kKey = std::string(64, 'a') + std::string(64, '3');

TEST(ReleaseTrust, TextReadsBackAsWritten) {
  const ReleaseTrust trust{kKey, "http://releases.example.net:8080"};
  const std::string text = ReleaseTrustText(trust);
  EXPECT_EQ(text, "stonewake-release-trust 1\nkey " + kKey + "\nserver http://releases.example.net:8080\n");
  const std::optional<ReleaseTrust> back = ParseReleaseTrust(text);
  ASSERT_TRUE(back);
  EXPECT_EQ(back->publicKeyHex, kKey);
  EXPECT_EQ(back->serverBase, "http://releases.example.net:8080");
}

TEST(ReleaseTrust, AnythingButTheExactFormIsRefused) {
  const std::string head = "stonewake-release-trust 1\n";
  const std::string key = "key " + kKey + "\n";
  const std::string server = "server http://127.0.0.1:18080\n";
  struct Case {
    const char* name;
    std::string text;
  };
  const Case kCases[] = {
      {"empty", ""},
      {"other header", "stonewake-release-trust 2\n" + key + server},
      {"no last line end", head + key + server.substr(0, server.size() - 1)},
      {"CRLF", "stonewake-release-trust 1\r\nkey " + kKey + "\r\n" + server},
      {"extra line", head + key + server + "\n"},
      {"lines swapped", head + server + key},
      {"key too short", head + "key " + kKey.substr(1) + "\n" + server},
      {"key upper case", head + "key " + std::string(128, 'A') + "\n" + server},
      {"key not hex", head + "key " + std::string(127, 'a') + "g\n" + server},
      {"https", head + key + "server https://127.0.0.1\n"},
      {"scheme only", head + key + "server http://\n"},
      {"with a path", head + key + "server http://host/releases\n"},
      {"trailing slash", head + key + "server http://host/\n"},
      {"space in host", head + key + "server http://a b\n"},
  };
  for (const auto& c : kCases) {
    SCOPED_TRACE(c.name);
    EXPECT_FALSE(ParseReleaseTrust(c.text));
  }
  EXPECT_TRUE(ParseReleaseTrust(head + key + server));
}

}  // namespace
}  // namespace launcher
