#include "core/release_trust.h"

#include <gtest/gtest.h>

#include <string>

namespace launcher {
namespace {

const std::string kKey = std::string(64, 'a') + std::string(64, '3');

TEST(ReleaseTrust, TextReadsBackAsWritten) {
  for (const std::string server : {"http://releases.example.net:8080", "https://cdn.example.net/games/stonewake"}) {
    SCOPED_TRACE(server);
    const std::string text = ReleaseTrustText({kKey, server});
    EXPECT_EQ(text, "stonewake-release-trust 1\nkey " + kKey + "\nserver " + server + "\n");
    const std::optional<ReleaseTrust> back = ParseReleaseTrust(text);
    ASSERT_TRUE(back);
    EXPECT_EQ(back->publicKeyHex, kKey);
    EXPECT_EQ(back->serverBase, server);
  }
}

// The build's own rule (cmake/StonewakeReleaseConfig.cmake, whose configure
// test refuses the same addresses).
TEST(ReleaseTrust, ServerBaseIsAnAddressTheLauncherAppendsItsPathsTo) {
  struct Case {
    std::string url;
    bool valid;
  };
  // The longest base path whose object URLs WinHTTP still sends: 2047
  // characters with "/objects/" and 64 hex digits.
  const std::string longest = "/" + std::string(1973, 'p');
  const Case kCases[] = {
      {"https://cdn.example.net" + longest, true},
      {"https://cdn.example.net" + longest + "p", false},
      {"https://cdn.example.net/" + std::string(900, 'a') + "/" + std::string(1072, 'b'), true},
      {"https://cdn.example.net/" + std::string(900, 'a') + "/" + std::string(1073, 'b'), false},
      {"https://" + std::string(251, 'h') + ".net", true},
      {"https://" + std::string(252, 'h') + ".net", false},
      {"https://[2001:db8::8:800:200c:417a]/stonewake", true},
      {"https://[2001:db8:0:0:8:800:200C:417A]", true},
      {"https://[::ffff:192.0.2.128]:8443", true},
      {"https://[::]", true},
      {"https://[cdn.example.net]", false},
      {"https://[192.0.2.128]", false},
      {"https://[abcd]", false},
      {"https://[1:2:3:4:5:6:7]", false},
      {"https://[1:2:3:4:5:6:7:8:9]", false},
      {"https://[1::2::3]", false},
      {"https://[:::1]", false},
      {"https://[12345::1]", false},
      {"https://[::ffff:192.0.2.256]", false},
      {"https://[::1.2.3.4:5]", false},
      {"https://cdn.example.net/stonewake", true},
      {"https://cdn.example.net", true},
      {"https://localhost:8443/releases/stonewake", true},
      {"http://releases.example.net:8080", true},
      {"http://127.0.0.1:18080/a_b~c/d-e.f", true},
      {"https://[::1]:65535/stonewake", true},
      {"https://[::1]", true},
      {"ftp://cdn.example.net/stonewake", false},
      {"HTTPS://cdn.example.net", false},
      {"https://", false},
      {"https://:8443", false},
      {"https://cdn.example.net/", false},
      {"https://cdn.example.net/stonewake/", false},
      {"https://cdn.example.net//stonewake", false},
      {"https://cdn.example.net/a/../stonewake", false},
      {"https://cdn.example.net/./stonewake", false},
      {"https://cdn.example.net/stonewake?channel=live", false},
      {"https://cdn.example.net/stonewake#latest", false},
      {"https://cdn.example.net/stone wake", false},
      {"https://cdn.example.net/st%C3%B6newake", false},
      {"https://cdn.example.net/st\xC3\xB6newake", false},
      {"https://cdn.example.net/a;b", false},
      {"https://user@cdn.example.net", false},
      {"https://cdn.example.net:0", false},
      {"https://cdn.example.net:65536", false},
      {"https://cdn.example.net:08443", false},
      {"https://cdn.example.net:https", false},
      {"https://cdn.example.net:", false},
      {"https://[::1", false},
      {"https://cdn.example.net\\stonewake", false},
  };
  for (const Case& c : kCases) {
    SCOPED_TRACE(c.url.substr(0, 60));
    EXPECT_EQ(IsReleaseServerBase(c.url), c.valid);
  }
}

// What the publisher's --server is compared with: one server however its
// host's letter case or a default port is written, and never another.
TEST(ReleaseTrust, SameServerBaseAsServersCompareThem) {
  struct Case {
    const char* a;
    const char* b;
    bool same;
  };
  const Case kCases[] = {
      {"https://cdn.example.net", "https://CDN.Example.NET", true},
      {"https://cdn.example.net", "https://cdn.example.net:443", true},
      {"http://cdn.example.net/stonewake", "http://CDN.example.net:80/stonewake", true},
      {"https://[::1]:443/a", "https://[::1]/a", true},
      {"https://cdn.example.net", "http://cdn.example.net", false},
      {"https://cdn.example.net", "https://cdn.example.net:80", false},
      {"http://cdn.example.net", "http://cdn.example.net:443", false},
      {"https://cdn.example.net:8443", "https://cdn.example.net", false},
      {"https://cdn.example.net/stonewake", "https://cdn.example.net/Stonewake", false},
      {"https://cdn.example.net/stonewake", "https://cdn.example.net", false},
      {"https://cdn.example.net", "https://cdn.example.org", false},
  };
  for (const Case& c : kCases) {
    SCOPED_TRACE(std::string(c.a) + " and " + c.b);
    EXPECT_EQ(IsSameServerBase(c.a, c.b), c.same);
    EXPECT_EQ(IsSameServerBase(c.b, c.a), c.same);
  }
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
      {"scheme only", head + key + "server http://\n"},
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
