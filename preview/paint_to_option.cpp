#include "preview/paint_to_option.h"

namespace launcher {

std::optional<std::wstring> PaintToFolder(std::wstring_view commandLine) {
  constexpr std::wstring_view kOption = L"--paint-to=";
  const size_t at = commandLine.find(kOption);
  if (at == std::wstring_view::npos) return std::nullopt;
  const std::wstring_view rest = commandLine.substr(at + kOption.size());
  return std::wstring(rest.substr(0, rest.find(L' ')));
}

}  // namespace launcher
