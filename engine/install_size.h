// The installed-size line of the window.
#pragma once

#include <string>
#include <string_view>

namespace launcher {

// The size of every regular file under the install folder's "game" folder
// plus the launcher executable, as "%.0f MB" below 1024 MiB and "%.1f GB"
// from there (MB = 2^20 bytes, GB = 2^30 bytes). Empty when there is no game
// folder. Files whose size cannot be read and subfolders that cannot be
// opened add nothing. Never throws.
std::wstring InstallSizeText(std::wstring_view installFolder);

}  // namespace launcher
