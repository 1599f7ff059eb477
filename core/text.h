// The engine's only conversions between byte text and wide text. No code
// page or UTF-8 conversion is involved, so a version word survives the trip
// through the window and installed.txt byte for byte.
#pragma once

#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <string_view>

namespace launcher {

// Each byte becomes one UTF-16 unit, sign-extended: 0x00-0x7F keep their
// value, 0x80-0xFF become U+FF80-U+FFFF.
std::wstring WidenAscii(std::string_view text);

// Each UTF-16 unit becomes one byte: its low 8 bits.
std::string NarrowLow(std::wstring_view text);

// 'A'-'Z' become 'a'-'z'; every other byte or unit stays (the C locale's
// rule, so a non-ASCII case variant is never folded). Windows file names
// compare equal under it, so it is the key of "the same file".
char LowerAscii(char c);
std::string LowerAscii(std::string_view text);
std::wstring LowerAscii(std::wstring_view text);

// `digits` as an unsigned 64-bit number: one or more of '0'-'9' and nothing
// else. Nothing when another character is there, when it is empty, or when
// the value does not fit (a size from a server or a manifest is never
// wrapped around).
std::optional<std::uint64_t> ParseDecimal(std::string_view digits);
std::optional<std::uint64_t> ParseDecimal(std::wstring_view digits);

// The same bytes seen as bytes or as text, without a copy: signatures,
// digests and files take bytes, the formats are read as text.
inline std::span<const std::uint8_t> AsBytes(std::string_view text) {
  return {reinterpret_cast<const std::uint8_t*>(text.data()), text.size()};
}
inline std::string_view AsText(std::span<const std::uint8_t> bytes) {
  return {reinterpret_cast<const char*>(bytes.data()), bytes.size()};
}

}  // namespace launcher
