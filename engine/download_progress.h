// What a patch tells the window while it runs: the only channel from the
// engine's patch towards the player.
#pragma once

#include <cstdint>
#include <functional>
#include <string>

namespace launcher {

// A status text and a percent.
using PatchProgress = std::function<void(const std::wstring& text, std::int32_t percent)>;

// Reports the whole patch's download after `done` of `total` bytes:
// "Downloading: D of T MB" (whole mebibytes, rounded down) and the percent
// done x 100 / total (0 for a total of 0), not clamped, so a file larger
// than its published size shows above 100 rather than hiding the
// discrepancy.
void ReportDownload(std::uint64_t done, std::uint64_t total, const PatchProgress& progress);

}  // namespace launcher
