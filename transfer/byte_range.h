// The rules of a GET for part of an object ("Range: bytes=..."): the header
// asked with, and what a server's answer to it means. Pure: no request is
// made here.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

namespace launcher {

// Bytes `first` to `last` (both included) of an object of `total` bytes,
// first <= last < total. `open` asks for them as "from `first` to the end"
// (the resume of a download), which every server reads as the same bytes.
struct ByteRange {
  std::uint64_t first = 0;
  std::uint64_t last = 0;
  std::uint64_t total = 0;
  bool open = false;

  // The rest of an object of `total` bytes from `first` on.
  static ByteRange RestFrom(std::uint64_t first, std::uint64_t total);
  // Bytes `first` to `last` of an object of `total` bytes.
  static ByteRange Closed(std::uint64_t first, std::uint64_t last, std::uint64_t total);

  std::uint64_t size() const { return last - first + 1; }
};

// "Range: bytes=<first>-" for an open range, "Range: bytes=<first>-<last>"
// for a closed one.
std::wstring RangeHeader(const ByteRange& range);

// What a server's answer to a range request means for the bytes asked for.
enum class RangeAnswer {
  Exact,    // a 206 whose Content-Range is exactly the range asked, total included
  Whole,    // a 200: the whole object, from its first byte
  Refused,  // the range itself is wrong: a 416, or a 206 of another range
            // (or none named), so bytes kept for it cannot be built on
  Failed,   // any other answer (a server error, a missing object): says
            // nothing about the range, so a plain request's failure
};

// Classifies the answer with `status` and the Content-Range header's value
// (absent when the server sent none).
RangeAnswer ClassifyRangeAnswer(const ByteRange& range, std::uint32_t status,
                                std::optional<std::wstring_view> contentRange);

}  // namespace launcher
