// Version texts and their order.
#pragma once

#include <cstdint>
#include <string_view>
#include <vector>

namespace launcher {

// Splits at '.' (a trailing empty field is dropped, inner empty fields are
// kept) and converts each field like the C library's decimal conversion,
// saturating at the 32-bit limits. Never fails.
std::vector<std::int32_t> ParseVersion(std::wstring_view text);

// True when `a` orders strictly before `b`: field by field, and a list that
// is a strict prefix of the other orders first ("1.2" before "1.2.0").
bool IsOlderVersion(std::wstring_view a, std::wstring_view b);

}  // namespace launcher
