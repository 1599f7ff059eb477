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

// WinHTTP sends a request only when the URL's path is at most 2047
// characters (INTERNET_MAX_PATH_LENGTH less its terminating zero), and the
// longest path the launcher asks for is an object's, "/objects/" and 64
// hex digits after the base's own path.
inline constexpr std::size_t kMaxUrlPathChars = 2047;
inline constexpr std::size_t kMaxServerBasePathChars = kMaxUrlPathChars - std::string_view("/objects/").size() - 64;
// WinHTTP splits a URL only when its host name fits 255 characters.
inline constexpr std::size_t kMaxHostChars = 255;

// A release server's base URL taken apart.
struct ServerBase {
  std::string_view scheme;  // "https" or "http"
  std::string_view host;    // as written, brackets of an IPv6 address included
  unsigned port = 0;        // as written, or the scheme's default (443, 80)
  std::string_view path;    // "" or "/segment..."
};

// The parts of `url` when it has the form IsReleaseServerBase asks for,
// whatever the length of its path; nothing otherwise.
std::optional<ServerBase> ParseServerBase(std::string_view url);

// The release server's base URL as a launcher build takes it (the same
// rule as cmake/StonewakeReleaseConfig.cmake): "https://" or "http://", a
// host (a name, an IPv4 address or a bracketed IPv6 address), an optional
// port from 1 to 65535, and an optional path of segments of letters, digits
// and "-._~" (neither "." nor ".."), each after one slash, of at most
// kMaxServerBasePathChars characters; the host of at most kMaxHostChars. Nothing else: no user name, query,
// fragment, trailing slash, space, '%' or non-ASCII byte, since the
// launcher appends its resource paths to the text unescaped.
bool IsReleaseServerBase(std::string_view url);

// True when two base URLs of that form name the same release tree: the
// same scheme, host (letter case aside, as host names compare), port (a
// port written as the scheme's default is that default) and path (compared
// exactly, as servers compare paths).
bool IsSameServerBase(std::string_view a, std::string_view b);

// The text above for `trust`, as the build writes it.
std::string ReleaseTrustText(const ReleaseTrust& trust);

// The trust a text of exactly that form names; nothing for any other text
// (another header, a key that is not 128 lowercase hex digits, a server
// that is not IsReleaseServerBase, a line missing or extra).
std::optional<ReleaseTrust> ParseReleaseTrust(std::string_view text);

}  // namespace launcher
