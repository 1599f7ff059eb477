#include "core/version.h"

#include <algorithm>
#include <cstddef>
#include <limits>

namespace launcher {
namespace {

bool IsCSpace(wchar_t c) {
  return c == L' ' || (c >= L'\t' && c <= L'\r');
}

// Like wcstol on one field, clamped to 32 bits: leading white space, an
// optional sign, then digits up to the first other character.
std::int32_t ConvertField(std::wstring_view field) {
  std::size_t i = 0;
  while (i < field.size() && IsCSpace(field[i])) ++i;
  bool negative = false;
  if (i < field.size() && (field[i] == L'+' || field[i] == L'-')) {
    negative = field[i] == L'-';
    ++i;
  }
  // Accumulate the magnitude, stopping growth once it is past any limit.
  constexpr std::int64_t kCap = std::int64_t{1} << 32;
  std::int64_t magnitude = 0;
  for (; i < field.size() && field[i] >= L'0' && field[i] <= L'9'; ++i) {
    magnitude = std::min(kCap, magnitude * 10 + (field[i] - L'0'));
  }
  const std::int64_t value = negative ? -magnitude : magnitude;
  return static_cast<std::int32_t>(std::clamp<std::int64_t>(
      value, std::numeric_limits<std::int32_t>::min(),
      std::numeric_limits<std::int32_t>::max()));
}

}  // namespace

std::vector<std::int32_t> ParseVersion(std::wstring_view text) {
  std::vector<std::int32_t> fields;
  std::size_t start = 0;
  while (start < text.size()) {
    const std::size_t dot = text.find(L'.', start);
    if (dot == std::wstring_view::npos) {
      fields.push_back(ConvertField(text.substr(start)));
      break;
    }
    fields.push_back(ConvertField(text.substr(start, dot - start)));
    start = dot + 1;
  }
  return fields;
}

bool IsOlderVersion(std::wstring_view a, std::wstring_view b) {
  const std::vector<std::int32_t> left = ParseVersion(a);
  const std::vector<std::int32_t> right = ParseVersion(b);
  const std::size_t common = std::min(left.size(), right.size());
  for (std::size_t i = 0; i < common; ++i) {
    if (left[i] != right[i]) return left[i] < right[i];
  }
  return left.size() < right.size();
}

}  // namespace launcher
