// The release signature file, /latest/manifest.sig:
//   "ecdsa-p256-sha256 " + 128 hex digits (r then s, 32 bytes each) + anything
#pragma once

#include <cstdint>
#include <span>
#include <string>
#include <string_view>
#include <vector>

namespace launcher {

inline constexpr std::string_view kSignaturePrefix = "ecdsa-p256-sha256 ";

// Returns the 64 signature bytes. Throws LauncherError
// "The release signature could not be read." when the file is shorter than
// 146 bytes, the prefix differs, or a digit is not hexadecimal (either case).
std::vector<std::uint8_t> ParseSignatureFile(std::span<const std::uint8_t> bytes);

}  // namespace launcher
