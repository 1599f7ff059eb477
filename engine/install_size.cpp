#include "engine/install_size.h"

#include <cstdint>
#include <cwchar>

#include "core/install_layout.h"
#include "core/paths.h"
#include "core/records.h"
#include "files/folder_walk.h"

namespace launcher {

std::wstring InstallSizeText(std::wstring_view installFolder) {
  const std::wstring gameFolder = JoinPath(installFolder, kGameFolderName);
  if (!IsExistingFolder(gameFolder)) return {};

  std::uint64_t total = 0;
  WalkRegularFiles(gameFolder, [&](const WalkedFile& file) { total += file.listedSize; });
  std::uint64_t launcherSize = 0;
  if (FileSizeOf(JoinPath(installFolder, LauncherFileNameWide), launcherSize)) total += launcherSize;

  const double mib = static_cast<double>(total) / 1048576.0;
  wchar_t text[32] = {};
  if (mib >= 1024.0) {
    std::swprintf(text, 32, L"%.1f GB", mib / 1024.0);
  } else {
    std::swprintf(text, 32, L"%.0f MB", mib);
  }
  return text;
}

}  // namespace launcher
