// Drops progress reports that repeat the one before: a download reports far
// more often than the text or the percentage changes, and each report the
// window gets costs it a repaint. Portable.
#pragma once

#include <cstdint>
#include <string>

namespace launcher {

class ProgressFilter {
 public:
  // True when (text, percent) differs from the last pair let through (the
  // first report always does); the pair is then remembered.
  bool LetThrough(const std::wstring& text, std::int32_t percent) {
    if (percent == lastPercent_ && text == lastText_) return false;
    lastText_ = text;
    lastPercent_ = percent;
    return true;
  }

 private:
  std::wstring lastText_;
  std::int32_t lastPercent_ = -1;
};

}  // namespace launcher
