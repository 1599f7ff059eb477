#include "transfer/byte_range.h"

#include <gtest/gtest.h>

#include <optional>
#include <string>

namespace launcher {
namespace {

TEST(ByteRange, HeaderAsksForTheRangeInItsForm) {
  struct Case {
    const char* name;
    ByteRange range;
    std::wstring header;
  };
  const Case kCases[] = {
      {"rest from a byte", ByteRange::RestFrom(100000, 300000), L"Range: bytes=100000-"},
      {"rest from the last byte", ByteRange::RestFrom(299999, 300000), L"Range: bytes=299999-"},
      {"closed range", ByteRange::Closed(65536, 131071, 300000), L"Range: bytes=65536-131071"},
      {"the first byte alone", ByteRange::Closed(0, 0, 1), L"Range: bytes=0-0"},
      {"closed up to the last byte", ByteRange::Closed(10, 299999, 300000), L"Range: bytes=10-299999"},
      // Game files of several GiB: offsets past 32 bits are written whole.
      {"past 2^32", ByteRange::Closed(5000000000, 5000065535, 6000000000), L"Range: bytes=5000000000-5000065535"},
  };
  for (const auto& c : kCases) {
    SCOPED_TRACE(c.name);
    EXPECT_EQ(RangeHeader(c.range), c.header);
  }
}

// Only a 206 naming exactly the bytes asked for, total included, is taken as
// them; a 200 is the whole object; an answer about another range is a
// refusal; any other answer says nothing about the range.
TEST(ByteRange, AnswersByStatusAndContentRange) {
  const ByteRange rest = ByteRange::RestFrom(100000, 300000);
  const ByteRange closed = ByteRange::Closed(65536, 131071, 300000);
  struct Case {
    const char* name;
    ByteRange range;
    std::uint32_t status;
    std::optional<std::wstring> contentRange;
    RangeAnswer answer;
  };
  const Case kCases[] = {
      {"rest, exact", rest, 206, L"bytes 100000-299999/300000", RangeAnswer::Exact},
      {"closed, exact", closed, 206, L"bytes 65536-131071/300000", RangeAnswer::Exact},
      {"rest, whole object", rest, 200, std::nullopt, RangeAnswer::Whole},
      {"closed, whole object", closed, 200, std::nullopt, RangeAnswer::Whole},
      {"shifted by a byte", rest, 206, L"bytes 100001-299999/300000", RangeAnswer::Refused},
      {"ends early", closed, 206, L"bytes 65536-131070/300000", RangeAnswer::Refused},
      {"ends late", closed, 206, L"bytes 65536-131072/300000", RangeAnswer::Refused},
      {"another total", rest, 206, L"bytes 100000-299999/300001", RangeAnswer::Refused},
      {"unknown total", rest, 206, L"bytes 100000-299999/*", RangeAnswer::Refused},
      {"no Content-Range", rest, 206, std::nullopt, RangeAnswer::Refused},
      {"empty Content-Range", rest, 206, L"", RangeAnswer::Refused},
      {"another unit", rest, 206, L"items 100000-299999/300000", RangeAnswer::Refused},
      {"leading zero", rest, 206, L"bytes 0100000-299999/300000", RangeAnswer::Refused},
      {"416", rest, 416, L"bytes */300000", RangeAnswer::Refused},
      {"429", rest, 429, std::nullopt, RangeAnswer::Failed},
      {"500", rest, 500, std::nullopt, RangeAnswer::Failed},
      {"502", closed, 502, std::nullopt, RangeAnswer::Failed},
      {"503", rest, 503, std::nullopt, RangeAnswer::Failed},
      {"504", closed, 504, std::nullopt, RangeAnswer::Failed},
      {"404", rest, 404, std::nullopt, RangeAnswer::Failed},
      {"503 naming the range", rest, 503, L"bytes 100000-299999/300000", RangeAnswer::Failed},
  };
  for (const auto& c : kCases) {
    SCOPED_TRACE(c.name);
    const std::optional<std::wstring_view> contentRange =
        c.contentRange ? std::optional<std::wstring_view>(*c.contentRange) : std::nullopt;
    EXPECT_EQ(ClassifyRangeAnswer(c.range, c.status, contentRange), c.answer);
  }
}

}  // namespace
}  // namespace launcher
