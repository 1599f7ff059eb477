// Splitting a text format's body into lines, shared by every format the
// project owns so that each reads line ends the same way.
#pragma once

#include <cstddef>
#include <optional>
#include <string_view>

namespace launcher {

// Hands out the body's lines one at a time: a line ends at LF, a last line
// without LF counts only when it is not empty, and one trailing CR is cut.
class LineReader {
 public:
  explicit LineReader(std::string_view body) : body_(body) {}

  std::optional<std::string_view> Next() {
    if (pos_ >= body_.size()) return std::nullopt;
    ++number_;
    const std::size_t lf = body_.find('\n', pos_);
    std::string_view line;
    if (lf == std::string_view::npos) {
      line = body_.substr(pos_);
      pos_ = body_.size();
    } else {
      line = body_.substr(pos_, lf - pos_);
      pos_ = lf + 1;
    }
    if (!line.empty() && line.back() == '\r') line.remove_suffix(1);
    return line;
  }

  // The 1-based number of the line Next handed out last.
  std::size_t Number() const { return number_; }

 private:
  std::string_view body_;
  std::size_t pos_ = 0;
  std::size_t number_ = 0;
};

}  // namespace launcher
