#include "engine/download_progress.h"

namespace launcher {
namespace {

constexpr std::uint64_t kMebibyte = 1048576;

}  // namespace

void ReportDownload(std::uint64_t done, std::uint64_t total, const PatchProgress& progress) {
  const std::uint64_t percent = total == 0 ? 0 : done * 100 / total;
  const std::wstring text =
      L"Downloading: " + std::to_wstring(done / kMebibyte) + L" of " + std::to_wstring(total / kMebibyte) + L" MB";
  progress(text, static_cast<std::int32_t>(percent));
}

}  // namespace launcher
