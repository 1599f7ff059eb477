// What the launcher is built to trust: the release server's base URL and the
// publisher's ECDSA P-256 public key. Both are fixed at build time (CMake
// cache variables STONEWAKE_RELEASE_BASE_URL and STONEWAKE_RELEASE_PUBLIC_KEY)
// and cannot be changed at run time.
#pragma once

#include <array>
#include <cstdint>
#include <string_view>

namespace launcher {

// "https://" or "http://", a host, an optional port and an optional path
// (such as "https://cdn.example.net/stonewake"), no trailing slash; the
// build refuses anything that would need escaping. Resource URLs are this
// text with a path beginning with '/' appended.
extern const std::wstring_view ReleaseServerBase;

// Coordinates of the release public key, most significant byte first.
extern const std::array<std::uint8_t, 32> ReleasePublicKeyX;
extern const std::array<std::uint8_t, 32> ReleasePublicKeyY;

}  // namespace launcher
