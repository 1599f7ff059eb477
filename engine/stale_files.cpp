#include "engine/stale_files.h"

#include <vector>

#include "core/install_layout.h"
#include "core/text.h"
#include "files/folder_walk.h"
#include "files/small_file.h"

namespace launcher {

void RemoveStaleFiles(const std::wstring& gameFolder, const std::set<std::wstring>& keep) {
  if (!IsExistingFolder(gameFolder)) return;

  // Collect first, delete after the walk: deleting while a folder is being
  // listed can make the listing skip or repeat entries.
  std::vector<std::wstring> stale;
  WalkRegularFiles(gameFolder, [&](const WalkedFile& file) {
    // The game writes its window layout there; no release owns it.
    if (file.name == GameLayoutFileNameWide) return;
    if (!keep.contains(LowerAscii(file.path))) stale.push_back(file.path);
  });

  // A file in use stays where it is, as it was.
  for (const std::wstring& path : stale) DeleteFileEvenReadOnly(path);
}

}  // namespace launcher
