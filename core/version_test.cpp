#include "core/version.h"

#include <gtest/gtest.h>

#include <vector>

namespace launcher {
namespace {

TEST(ParseVersion, FieldsAndConversions) {
  struct Case {
    const char* name;
    const wchar_t* text;
    std::vector<std::int32_t> fields;
  };
  const Case kCases[] = {
      {"empty text has no fields", L"", {}},
      {"plain", L"1.2.3", {1, 2, 3}},
      {"trailing dot adds no field", L"1.2.", {1, 2}},
      {"inner empty field is 0", L"1..2", {1, 0, 2}},
      {"leading dot", L".5", {0, 5}},
      {"lone dot", L".", {0}},
      {"leading space, sign and trailing letters", L" 7.-1.3b", {7, -1, 3}},
      {"plus sign", L"+4", {4}},
      {"letters give 0", L"1.x", {1, 0}},
      {"overflow clamps high", L"4294967296", {2147483647}},
      {"just above int max", L"2147483648", {2147483647}},
      {"int max", L"2147483647", {2147483647}},
      {"int min", L"-2147483648", {-2147483647 - 1}},
      {"underflow clamps low", L"-99999999999999999999", {-2147483647 - 1}},
      {"sign without digits", L"-", {0}},
      {"tab and newline skipped", L"\t\n9", {9}},
  };
  for (const auto& c : kCases) {
    SCOPED_TRACE(c.name);
    EXPECT_EQ(ParseVersion(c.text), c.fields);
  }
}

TEST(IsOlderVersion, OrderTable) {
  struct Case {
    const wchar_t* a;
    const wchar_t* b;
    bool older;
  };
  const Case kCases[] = {
      {L"1.9", L"1.10", true},       {L"1.10", L"1.9", false},   {L"1.2", L"1.2.0", true},
      {L"1.2.0", L"1.2", false},     {L"1.0", L"1.x", false},    {L"1.x", L"1.0", false},
      {L"", L"0", true},             {L"0", L"", false},         {L"", L"", false},
      {L"1.4", L"1.4", false},       {L"01.4", L"1.4", false},   {L"-1", L"0", true},
      {L"2", L"10", true},           {L"1.2.3", L"1.3", true},   {L"4294967296", L"2147483647", false},
  };
  for (const auto& c : kCases) {
    SCOPED_TRACE(::testing::Message() << "a=" << ::testing::PrintToString(std::wstring(c.a))
                                      << " b=" << ::testing::PrintToString(std::wstring(c.b)));
    EXPECT_EQ(IsOlderVersion(c.a, c.b), c.older);
  }
}

// Version order must be a strict weak order: never both older, and
// transitive, over a mix of awkward texts.
TEST(IsOlderVersion, IsAStrictOrder) {
  const std::vector<std::wstring> texts = {L"",      L"0",     L"1",   L"1.0",   L"1.0.0", L"1.x", L"1.2",
                                           L"1.2.",  L"1..2",  L"1.10", L"1.9",  L" 1.9",  L"-1",  L"2",
                                           L"1.2.3", L"1.2.3b", L".5",  L"99999999999", L"2147483647"};
  for (const auto& a : texts) {
    EXPECT_FALSE(IsOlderVersion(a, a));
    for (const auto& b : texts) {
      EXPECT_FALSE(IsOlderVersion(a, b) && IsOlderVersion(b, a));
      for (const auto& c : texts) {
        if (IsOlderVersion(a, b) && IsOlderVersion(b, c)) {
          EXPECT_TRUE(IsOlderVersion(a, c));
        }
      }
    }
  }
}

}  // namespace
}  // namespace launcher
