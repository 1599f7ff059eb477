#include "core/text.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <optional>
#include <string>

namespace launcher {
namespace {

TEST(WidenAscii, HighBytesBecomeFF80Range) {
  const std::wstring wide = WidenAscii(std::string("a\x7F\x80\xFF", 4));
  ASSERT_EQ(wide.size(), 4u);
  EXPECT_EQ(static_cast<unsigned>(wide[0]), 0x61u);
  EXPECT_EQ(static_cast<unsigned>(wide[1]), 0x7Fu);
  EXPECT_EQ(static_cast<unsigned>(wide[2]), 0xFF80u);
  EXPECT_EQ(static_cast<unsigned>(wide[3]), 0xFFFFu);
}

TEST(NarrowLow, KeepsLowByte) {
  const std::wstring wide = {L'A', static_cast<wchar_t>(0x1234), static_cast<wchar_t>(0xFF80)};
  EXPECT_EQ(NarrowLow(wide), std::string("A\x34\x80", 3));
}

TEST(WidenAscii, NarrowingGivesBackEveryByte) {
  std::string all;
  for (int b = 0; b < 256; ++b) all.push_back(static_cast<char>(b));
  EXPECT_EQ(NarrowLow(WidenAscii(all)), all);
  EXPECT_EQ(NarrowLow(WidenAscii("")), "");
}

TEST(LowerAscii, FoldsOnlyAsciiCapitals) {
  EXPECT_EQ(LowerAscii(L"C:\\Stonewake\\GAME\\Data.PAK"), L"c:\\stonewake\\game\\data.pak");
  // The neighbours of 'A'-'Z' and 'a'-'z' stay, and so does every non-ASCII
  // letter, whatever its case.
  EXPECT_EQ(LowerAscii(L"@AZ[`az{"), L"@az[`az{");
  EXPECT_EQ(LowerAscii(L"\u00c9\u00e9\u0130\uff21"), L"\u00c9\u00e9\u0130\uff21");
  EXPECT_EQ(LowerAscii(std::string_view("@AZ[`az{ \xC9")), "@az[`az{ \xC9");
}

TEST(ParseDecimal, TakesOnlyDigitsThatFit) {
  struct Case {
    const char* name;
    const char* text;
    std::optional<std::uint64_t> value;
  };
  const Case kCases[] = {
      {"zero", "0", 0},
      {"leading zeros", "007", 7},
      {"largest", "18446744073709551615", UINT64_MAX},
      {"one past the largest", "18446744073709551616", std::nullopt},
      {"far past", "99999999999999999999", std::nullopt},
      {"empty", "", std::nullopt},
      {"sign", "+5", std::nullopt},
      {"minus", "-5", std::nullopt},
      {"space", "5 ", std::nullopt},
      {"letter", "12a", std::nullopt},
  };
  for (const auto& c : kCases) {
    SCOPED_TRACE(c.name);
    EXPECT_EQ(ParseDecimal(std::string_view(c.text)), c.value);
    EXPECT_EQ(ParseDecimal(std::wstring_view(WidenAscii(c.text))), c.value);
  }
}

}  // namespace
}  // namespace launcher
