// The "--paint-to=" option of the command line. Portable.
#pragma once

#include <optional>
#include <string>
#include <string_view>

namespace launcher {

// When the command line contains "--paint-to=" anywhere (case-sensitive),
// the folder that follows it: up to the next space or the end. Quotes are
// not interpreted, so the folder can hold no space. Empty when a space
// follows at once.
std::optional<std::wstring> PaintToFolder(std::wstring_view commandLine);

}  // namespace launcher
