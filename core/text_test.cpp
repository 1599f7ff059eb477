#include "core/text.h"

#include <gtest/gtest.h>

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

}  // namespace
}  // namespace launcher
