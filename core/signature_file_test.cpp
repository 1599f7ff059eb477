#include "core/signature_file.h"

#include <gtest/gtest.h>

#include <string>

#include "core/records.h"
#include "core/text.h"
#include "test_support/error_message.h"

namespace launcher {
namespace {

// The digits of the bytes 0x00, 0x04, ... 0xFC: every digit value appears in
// both the high and the low position.
std::string Digits() {
  static constexpr char kDigits[] = "0123456789abcdef";
  std::string text;
  for (int i = 0; i < 64; ++i) {
    const int byte = i * 4;
    text.push_back(kDigits[byte >> 4]);
    text.push_back(kDigits[byte & 0x0F]);
  }
  return text;
}

std::vector<std::uint8_t> Expected() {
  std::vector<std::uint8_t> bytes;
  for (int i = 0; i < 64; ++i) bytes.push_back(static_cast<std::uint8_t>(i * 4));
  return bytes;
}

std::string Upper(std::string text) {
  for (char& c : text) {
    if (c >= 'a' && c <= 'f') c = static_cast<char>(c - 'a' + 'A');
  }
  return text;
}

std::string Alternating(std::string text) {
  for (std::size_t i = 0; i < text.size(); i += 2) {
    if (text[i] >= 'a' && text[i] <= 'f') text[i] = static_cast<char>(text[i] - 'a' + 'A');
  }
  return text;
}

const std::string kPrefix = "ecdsa-p256-sha256 ";

TEST(ParseSignatureFile, AcceptedFiles) {
  struct Case {
    const char* name;
    std::string file;
  };
  const Case kCases[] = {
      {"exactly 146 bytes", kPrefix + Digits()},
      {"trailing LF", kPrefix + Digits() + "\n"},
      {"trailing CR LF", kPrefix + Digits() + "\r\n"},
      {"anything after the digits", kPrefix + Digits() + std::string(" zz\0\xff more", 11)},
      {"upper-case digits", kPrefix + Upper(Digits())},
      {"mixed-case digits", kPrefix + Alternating(Digits())},
  };
  for (const auto& c : kCases) {
    SCOPED_TRACE(c.name);
    EXPECT_EQ(ParseSignatureFile(AsBytes(c.file)), Expected());
  }
}

TEST(ParseSignatureFile, RejectedFiles) {
  const std::string digits = Digits();
  auto withDigit = [&](std::size_t index, char c) {
    std::string changed = digits;
    changed[index] = c;
    return kPrefix + changed;
  };
  struct Case {
    const char* name;
    std::string file;
  };
  const Case kCases[] = {
      {"empty", ""},
      {"prefix only", kPrefix},
      {"145 bytes", kPrefix + digits.substr(1)},
      {"145 bytes and a line end", kPrefix + digits.substr(1) + "\n"},
      {"upper-case prefix", "ECDSA-P256-SHA256 " + digits},
      {"prefix and two spaces", kPrefix + " " + digits},
      {"prefix without its space", "ecdsa-p256-sha256" + digits + "\n"},
      {"TAB instead of the space", "ecdsa-p256-sha256\t" + digits},
      {"another algorithm", "ecdsa-p384-sha384 " + digits},
      {"leading space", " " + kPrefix + digits},
      {"'g' as first digit", withDigit(0, 'g')},
      {"'G' as last digit", withDigit(127, 'G')},
      {"space among the digits", withDigit(64, ' ')},
      {"NUL among the digits", withDigit(3, '\0')},
      {"byte above 0x7F among the digits", withDigit(9, '\xe6')},
      {"'x' as in 0x", withDigit(1, 'x')},
  };
  for (const auto& c : kCases) {
    SCOPED_TRACE(c.name);
    EXPECT_EQ(testing::ErrorMessageOf([&] { ParseSignatureFile(AsBytes(c.file)); }),
              L"The release signature could not be read.");
  }
}

}  // namespace
}  // namespace launcher
