// Lowercase hexadecimal text of bytes, the form digests take in manifests.
#pragma once

#include <cstdint>
#include <span>
#include <string>

namespace launcher {

// For each byte its high then low four bits from "0123456789abcdef".
std::string HexLower(std::span<const std::uint8_t> bytes);

}  // namespace launcher
