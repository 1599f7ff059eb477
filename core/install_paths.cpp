#include "core/install_paths.h"

#include <array>
#include <map>

#include "core/records.h"
#include "core/text.h"

namespace launcher {
namespace {

// Besides '/', '\', ':' and control bytes, which the manifest's rule already
// refuses, the characters Windows does not allow in a name.
constexpr std::string_view kWindowsForbidden = "<>\"|?*";

bool IsDeviceName(std::string_view name) {
  std::string_view base = name.substr(0, name.find('.'));
  while (!base.empty() && base.back() == ' ') base.remove_suffix(1);
  const std::string folded = LowerAscii(base);
  for (std::string_view device : kDeviceNames) {
    if (folded == LowerAscii(device)) return true;
  }
  return false;
}

PathFault NameFault(std::string_view name, bool isFileName) {
  if (name.empty()) return PathFault::EmptyName;
  if (name.find_first_of(kWindowsForbidden) != std::string_view::npos) return PathFault::ForbiddenCharacter;
  if (name.back() == '.' || name.back() == ' ') return PathFault::EndsInDotOrSpace;
  if (IsDeviceName(name)) return PathFault::DeviceName;
  const std::size_t limit = isFileName ? kMaxNameChars - kPartialSuffix.size() : kMaxNameChars;
  if (name.size() > limit) return PathFault::NameTooLong;
  return PathFault::None;
}

PathFault ManifestRuleFault(std::string_view path) {
  if (path.empty()) return PathFault::Empty;
  if (path.front() == '/') return PathFault::StartsWithSlash;
  if (path.find_first_of("\\:") != std::string_view::npos) return PathFault::BackslashOrColon;
  for (char c : path) {
    const auto byte = static_cast<unsigned char>(c);
    if (byte < 0x20 || byte > 0x7F) return PathFault::NotPrintableAscii;
  }
  if (path.find("..") != std::string_view::npos) return PathFault::DotDot;
  if (path != LauncherFileName && !path.starts_with(GamePathPrefix)) return PathFault::OutsideInstall;
  return PathFault::None;
}

}  // namespace

bool IsManifestPathAllowed(std::string_view path) { return ManifestRuleFault(path) == PathFault::None; }

PathCheck CheckInstallPath(std::string_view path) {
  if (const PathFault fault = ManifestRuleFault(path); fault != PathFault::None) return {fault, {}};
  for (std::size_t start = 0;;) {
    const std::size_t slash = path.find('/', start);
    const bool last = slash == std::string_view::npos;
    const std::string_view name = path.substr(start, last ? std::string_view::npos : slash - start);
    if (const PathFault fault = NameFault(name, last); fault != PathFault::None) return {fault, name};
    if (last) return {};
    start = slash + 1;
  }
}

std::vector<PathClash> FindPathClashes(std::span<const std::string> paths) {
  std::vector<PathClash> clashes;
  // Folded path -> its first listed index; folded folder -> a listed file
  // inside it.
  std::map<std::string, std::size_t> files;
  std::map<std::string, std::size_t> folders;
  for (std::size_t i = 0; i < paths.size(); ++i) {
    const std::string folded = LowerAscii(paths[i]);
    const auto [it, inserted] = files.try_emplace(folded, i);
    if (!inserted) clashes.push_back({PathClash::Kind::SameFile, it->second, i});
    for (std::size_t slash = folded.find('/'); slash != std::string::npos; slash = folded.find('/', slash + 1)) {
      folders.try_emplace(folded.substr(0, slash), i);
    }
  }
  for (std::size_t i = 0; i < paths.size(); ++i) {
    const std::string folded = LowerAscii(paths[i]);
    if (const auto folder = folders.find(folded); folder != folders.end()) {
      clashes.push_back({PathClash::Kind::Folder, i, folder->second});
    }
    if (const auto partial = files.find(folded + std::string(kPartialSuffix)); partial != files.end()) {
      clashes.push_back({PathClash::Kind::Partial, i, partial->second});
    }
  }
  return clashes;
}

}  // namespace launcher
