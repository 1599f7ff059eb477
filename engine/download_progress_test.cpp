#include "engine/download_progress.h"

#include <gtest/gtest.h>

namespace launcher {
namespace {

constexpr std::uint64_t kMiB = 1048576;

// Whole mebibytes rounded down against the patch's total; percent done x 100
// / total, 0 for a total of 0, not clamped.
TEST(ReportDownload, SpeaksForTheWholePatch) {
  struct Case {
    const char* name;
    std::uint64_t done;
    std::uint64_t total;
    std::wstring text;
    std::int32_t percent;
  };
  const Case kCases[] = {
      {"half of ten", 5 * kMiB, 10 * kMiB, L"Downloading: 5 of 10 MB", 50},
      {"nothing yet", 0, 10 * kMiB, L"Downloading: 0 of 10 MB", 0},
      {"total 0", 300000, 0, L"Downloading: 0 of 0 MB", 0},
      {"under a mebibyte", 1000, 1000, L"Downloading: 0 of 0 MB", 100},
      {"rounded down", 2 * kMiB - 1, 3 * kMiB, L"Downloading: 1 of 3 MB", 66},
      {"larger than published", 3000, 1000, L"Downloading: 0 of 0 MB", 300},
      {"tens of gibibytes", 40960 * kMiB, 81920 * kMiB, L"Downloading: 40960 of 81920 MB", 50},
  };
  for (const auto& c : kCases) {
    SCOPED_TRACE(c.name);
    std::wstring text;
    std::int32_t percent = -1;
    ReportDownload(c.done, c.total, [&](const std::wstring& t, std::int32_t p) {
      text = t;
      percent = p;
    });
    EXPECT_EQ(text, c.text);
    EXPECT_EQ(percent, c.percent);
  }
}

}  // namespace
}  // namespace launcher
