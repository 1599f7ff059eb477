// Lowercase hexadecimal text of bytes, the form digests take in manifests.
#pragma once

#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

namespace launcher {

// For each byte its high then low four bits from "0123456789abcdef".
std::string HexLower(std::span<const std::uint8_t> bytes);

// The value of one hex digit of either case; nothing for any other byte.
std::optional<std::uint8_t> HexDigitValue(char c);

// The bytes that pairs of hex digits of either case spell, high digit first
// (HexLower's inverse). Nothing when a character is no hex digit or the
// count is odd; empty text gives no bytes.
std::optional<std::vector<std::uint8_t>> ParseHex(std::string_view hex);

}  // namespace launcher
