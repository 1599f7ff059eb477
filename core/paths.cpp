#include "core/paths.h"

#include <algorithm>

#include "core/text.h"

namespace launcher {
namespace {

bool IsBareDrive(std::wstring_view folder) {
  if (folder.size() != 2 || folder[1] != L':') return false;
  const wchar_t letter = folder[0];
  return (letter >= L'A' && letter <= L'Z') || (letter >= L'a' && letter <= L'z');
}

}  // namespace

std::wstring JoinPath(std::wstring_view folder, std::wstring_view name) {
  std::wstring joined(folder);
  const bool needsSeparator = !folder.empty() && folder.back() != L'\\' &&
                              folder.back() != L'/' && !IsBareDrive(folder);
  if (needsSeparator) joined.push_back(L'\\');
  joined.append(name);
  return joined;
}

std::wstring LocalPathFor(std::wstring_view installFolder, const ManifestFile& file) {
  std::wstring relative = WidenAscii(file.path);
  std::replace(relative.begin(), relative.end(), L'/', L'\\');
  return JoinPath(installFolder, relative);
}

std::wstring LastPathComponent(std::wstring_view path) {
  const std::size_t cut = path.find_last_of(L"\\/");
  return std::wstring(cut == std::wstring_view::npos ? path : path.substr(cut + 1));
}

}  // namespace launcher
