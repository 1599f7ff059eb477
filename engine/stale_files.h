// Removal of game files that the release no longer lists.
#pragma once

#include <set>
#include <string>

namespace launcher {

// Deletes every regular file under `gameFolder` (at any depth) whose path,
// lower-cased by LowerAscii (only 'A'-'Z' change: "Data.PAK" meets
// "data.pak", a non-ASCII case variant does not), is not in `keep`, except
// files named exactly "imgui.ini". Read-only files are deleted too. Folders are never deleted; a file that
// cannot be deleted stays, and a subfolder that cannot be read is skipped.
// Nothing is reported and nothing is thrown.
void RemoveStaleFiles(const std::wstring& gameFolder, const std::set<std::wstring>& keep);

}  // namespace launcher
