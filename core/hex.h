// Lowercase hexadecimal text of bytes, the form digests take in manifests.
#pragma once

#include <cstdint>
#include <optional>
#include <span>
#include <string>

namespace launcher {

// For each byte its high then low four bits from "0123456789abcdef".
std::string HexLower(std::span<const std::uint8_t> bytes);

// The value of one hex digit of either case; nothing for any other byte.
std::optional<std::uint8_t> HexDigitValue(char c);

}  // namespace launcher
