#include "core/hex.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <optional>
#include <vector>

namespace launcher {
namespace {

TEST(ParseHex, ReadsPairsOfDigitsOfEitherCaseAndRefusesTheRest) {
  struct Case {
    const char* name;
    const char* text;
    std::optional<std::vector<std::uint8_t>> expected;
  };
  const Case kCases[] = {
      {"empty", "", std::vector<std::uint8_t>{}},
      {"lower case", "00ff7f80", std::vector<std::uint8_t>{0x00, 0xFF, 0x7F, 0x80}},
      {"upper and mixed case", "ABcd", std::vector<std::uint8_t>{0xAB, 0xCD}},
      {"odd count", "abc", std::nullopt},
      {"one digit", "a", std::nullopt},
      {"letter after f", "0g", std::nullopt},
      {"space inside", "ab cd", std::nullopt},
      {"sign", "-1", std::nullopt},
      {"digit neighbours in ASCII", "/:@G`g", std::nullopt},
  };
  for (const Case& c : kCases) {
    SCOPED_TRACE(c.name);
    EXPECT_EQ(ParseHex(c.text), c.expected);
  }
}

TEST(ParseHex, GivesBackEveryByteHexLowerWrote) {
  std::vector<std::uint8_t> every(256);
  for (int i = 0; i < 256; ++i) every[static_cast<std::size_t>(i)] = static_cast<std::uint8_t>(i);
  EXPECT_EQ(ParseHex(HexLower(every)), every);
}

}  // namespace
}  // namespace launcher
