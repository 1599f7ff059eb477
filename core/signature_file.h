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
inline constexpr std::size_t kSignatureBytes = 64;
// The prefix and the 128 digits; whatever follows (a line end) is ignored.
inline constexpr std::size_t kSignatureFileMinBytes = kSignaturePrefix.size() + 2 * kSignatureBytes;

inline constexpr std::wstring_view kSignatureUnreadable = L"The release signature could not be read.";

// Returns the 64 signature bytes. Throws LauncherError
// "The release signature could not be read." when the file is shorter than
// 146 bytes, the prefix differs, or a digit is not hexadecimal (either case).
std::vector<std::uint8_t> ParseSignatureFile(std::span<const std::uint8_t> bytes);

// The signature file for the 64 signature bytes (r then s): the prefix, 128
// lowercase hex digits and LF, kSignatureFileTextBytes in all.
inline constexpr std::size_t kSignatureFileTextBytes = kSignatureFileMinBytes + 1;
std::string SignatureFileText(std::span<const std::uint8_t, kSignatureBytes> signature);

}  // namespace launcher
