// What a launcher build trusts, as a small text the build embeds in the
// executable (resource STONEWAKE_RELEASE_TRUST_RESOURCE) so that the
// publisher can read it back from a launcher it is about to ship:
//
//   stonewake-release-trust 1
//   key <128 lowercase hex digits: X then Y of the release public key>
//   server <the release server's base URL, http://host[:port]>
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
  std::string serverBase;    // "http://" and a host, no path
};

// The text above for `trust`, as the build writes it.
std::string ReleaseTrustText(const ReleaseTrust& trust);

// The trust a text of exactly that form names; nothing for any other text
// (another header, a key that is not 128 lowercase hex digits, a server
// that is not "http://" with a host and no path, a line missing or extra).
std::optional<ReleaseTrust> ParseReleaseTrust(std::string_view text);

}  // namespace launcher
