#include "engine/stale_files.h"

#include <windows.h>

#include <vector>

#include "core/install_layout.h"
#include "core/text.h"
#include "files/folder_walk.h"

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

  for (const std::wstring& path : stale) {
    if (DeleteFileW(path.c_str())) continue;
    // DeleteFileW refuses read-only files; clear the attribute and try once
    // more. A file in use stays where it is, as it was.
    const DWORD attributes = GetFileAttributesW(path.c_str());
    if (attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_READONLY)) {
      SetFileAttributesW(path.c_str(), attributes & ~FILE_ATTRIBUTE_READONLY);
      if (!DeleteFileW(path.c_str())) SetFileAttributesW(path.c_str(), attributes);
    }
  }
}

}  // namespace launcher
