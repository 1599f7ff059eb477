#include "transfer/byte_range.h"

namespace launcher {

ByteRange ByteRange::RestFrom(std::uint64_t first, std::uint64_t total) { return {first, total - 1, total, true}; }

ByteRange ByteRange::Closed(std::uint64_t first, std::uint64_t last, std::uint64_t total) {
  return {first, last, total, false};
}

std::wstring RangeHeader(const ByteRange& range) {
  std::wstring header = L"Range: bytes=" + std::to_wstring(range.first) + L"-";
  if (!range.open) header += std::to_wstring(range.last);
  return header;
}

RangeAnswer ClassifyRangeAnswer(const ByteRange& range, std::uint32_t status,
                                std::optional<std::wstring_view> contentRange) {
  switch (status) {
    case 200:
      return RangeAnswer::Whole;
    case 206: {
      // Compared as text: a server that names the range in any other form
      // (blanks, leading zeros) is not trusted with bytes built on the kept
      // ones.
      const std::wstring expected = L"bytes " + std::to_wstring(range.first) + L"-" + std::to_wstring(range.last) +
                                    L"/" + std::to_wstring(range.total);
      return contentRange && *contentRange == expected ? RangeAnswer::Exact : RangeAnswer::Refused;
    }
    case 416:
      return RangeAnswer::Refused;
    default:
      // A busy or failing server (429, 5xx) or a missing object: the kept
      // bytes are as good as before, and the next attempt may get the range.
      return RangeAnswer::Failed;
  }
}

}  // namespace launcher
