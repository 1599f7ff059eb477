// What a launcher build trusts, as a small text the build embeds in the
// executable (resource STONEWAKE_RELEASE_TRUST_RESOURCE) so that the
// publisher can read it back from a launcher it is about to ship:
//
//   stonewake-release-trust 1
//   key <128 lowercase hex digits: X then Y of the release public key>
//   server <the release server's base URL, IsReleaseServerBase>
//
// LF line ends, one line each, in this order, and nothing after the last.
#pragma once

#include <optional>
#include <string>
#include <string_view>

namespace launcher {

inline constexpr std::string_view kReleaseTrustHeader = "stonewake-release-trust 1";

// The text's number among the executable's RT_RCDATA resources
// (STONEWAKE_RELEASE_TRUST_RESOURCE in resources/resource_ids.h).
inline constexpr int kReleaseTrustResource = 106;

struct ReleaseTrust {
  std::string publicKeyHex;  // 128 lowercase hex digits
  std::string serverBase;    // IsReleaseServerBase
};

// The release server's base URL as a launcher build takes it (the same
// rule as cmake/StonewakeReleaseConfig.cmake): "https://" or "http://", a
// host (a name, an IPv4 address or a bracketed IPv6 one), an optional port
// from 1 to 65535, and an optional path of segments of letters, digits and
// "-._~" (neither "." nor ".."), each after one slash. Nothing else: no
// user name, query, fragment, trailing slash, space, '%' or non-ASCII byte,
// since the launcher appends its resource paths to the text unescaped.
bool IsReleaseServerBase(std::string_view url);

// The text above for `trust`, as the build writes it.
std::string ReleaseTrustText(const ReleaseTrust& trust);

// The trust a text of exactly that form names; nothing for any other text
// (another header, a key that is not 128 lowercase hex digits, a server
// that is not IsReleaseServerBase, a line missing or extra).
std::optional<ReleaseTrust> ParseReleaseTrust(std::string_view text);

}  // namespace launcher
