#include "core/text.h"

#include <cstdint>

namespace launcher {
namespace {

template <typename Char>
std::optional<std::uint64_t> ParseDigits(std::basic_string_view<Char> digits) {
  if (digits.empty()) return std::nullopt;
  std::uint64_t value = 0;
  for (Char c : digits) {
    if (c < Char('0') || c > Char('9')) return std::nullopt;
    const auto digit = static_cast<std::uint64_t>(c - Char('0'));
    if (value > (UINT64_MAX - digit) / 10) return std::nullopt;
    value = value * 10 + digit;
  }
  return value;
}

}  // namespace

std::wstring WidenAscii(std::string_view text) {
  std::wstring wide;
  wide.reserve(text.size());
  for (char c : text) {
    // Go through a 16-bit value so the unit is the same where wchar_t is
    // 32 bits wide (the native build of the portable core).
    const auto unit = static_cast<std::uint16_t>(static_cast<std::int16_t>(static_cast<signed char>(c)));
    wide.push_back(static_cast<wchar_t>(unit));
  }
  return wide;
}

std::string NarrowLow(std::wstring_view text) {
  std::string narrow;
  narrow.reserve(text.size());
  for (wchar_t unit : text) {
    narrow.push_back(static_cast<char>(static_cast<unsigned char>(static_cast<std::uint32_t>(unit) & 0xFFu)));
  }
  return narrow;
}

char LowerAscii(char c) { return (c >= 'A' && c <= 'Z') ? static_cast<char>(c - 'A' + 'a') : c; }

std::string LowerAscii(std::string_view text) {
  std::string lowered(text);
  for (char& c : lowered) c = LowerAscii(c);
  return lowered;
}

std::wstring LowerAscii(std::wstring_view text) {
  std::wstring lowered(text);
  for (wchar_t& unit : lowered) {
    if (unit >= L'A' && unit <= L'Z') unit = static_cast<wchar_t>(unit - L'A' + L'a');
  }
  return lowered;
}

std::optional<std::uint64_t> ParseDecimal(std::string_view digits) { return ParseDigits(digits); }

std::optional<std::uint64_t> ParseDecimal(std::wstring_view digits) { return ParseDigits(digits); }

}  // namespace launcher
