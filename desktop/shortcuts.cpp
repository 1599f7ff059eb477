#include "desktop/shortcuts.h"

#include <objbase.h>
#include <shobjidl.h>

#include <optional>
#include <string>

#include "core/install_layout.h"
#include "core/paths.h"
#include "core/text.h"
#include "core/unique_handle.h"
#include "files/file_handle.h"
#include "files/folder_walk.h"
#include "files/small_file.h"
#include "files/system_handles.h"
#include "files/trace.h"
#include "resources/launcher_version.h"

namespace launcher {
namespace {

using ShellLink = ComHolder<IShellLinkW>;
using PersistFile = ComHolder<IPersistFile>;

constexpr wchar_t kShortcutName[] = L"Stonewake.lnk";

void MakeShortcut(const std::wstring& shortcut, const std::wstring& target, const std::wstring& workingFolder) {
  ShellLink link;
  if (FAILED(CoCreateInstance(CLSID_ShellLink, nullptr, CLSCTX_INPROC_SERVER, IID_IShellLinkW,
                              reinterpret_cast<void**>(link.put())))) {
    return;
  }
  link.get()->SetPath(target.c_str());
  link.get()->SetWorkingDirectory(workingFolder.c_str());
  link.get()->SetIconLocation(target.c_str(), 0);
  link.get()->SetDescription(L"Stonewake");
  PersistFile file;
  if (SUCCEEDED(link.get()->QueryInterface(IID_IPersistFile, reinterpret_cast<void**>(file.put())))) {
    file.get()->Save(shortcut.c_str(), TRUE);
  }
}

// A marker holds one short line; a longer file is none of ours and only
// means the upkeep is done again.
constexpr std::size_t kMaxMarkerBytes = 4096;

// The marker's first line, without its line end; none when it cannot be read.
std::optional<std::string> ReadFirstLine(const std::wstring& path) {
  std::optional<std::string> text = ReadSmallFile(path, kMaxMarkerBytes);
  if (!text) return std::nullopt;
  std::string line = text->substr(0, text->find('\n'));
  if (line.ends_with('\r')) line.pop_back();
  return line;
}

// Replaces the marker with one line and CR LF. A marker that cannot be
// written only means the work is done again next time.
void WriteMarker(const std::wstring& path, const std::string& line) { WriteFileReplacing(path, line + "\r\n"); }

// The shortcuts pinned to the taskbar, in the order the folder lists them;
// nothing when the folder is missing or cannot be read.
std::vector<std::wstring> PinnedShortcuts() {
  std::vector<std::wstring> found;
  const std::wstring roaming = KnownFolderPath(FOLDERID_RoamingAppData);
  if (roaming.empty()) return found;
  std::wstring folder = roaming;
  for (const wchar_t* part : {L"Microsoft", L"Internet Explorer", L"Quick Launch", L"User Pinned", L"TaskBar"}) {
    folder = JoinPath(folder, part);
  }
  ForEachFolderEntry(folder, [&](const std::wstring& name, std::uint32_t) {
    if (IsPinnedShortcutName(name)) found.push_back(JoinPath(folder, name));
  });
  return found;
}

void Announce(const std::wstring& launcherExecutable, const std::wstring& installFolder) {
  std::vector<std::wstring> paths{launcherExecutable,
                                  JoinPath(JoinPath(installFolder, GameFolderName), GameExecutableName)};
  for (const std::wstring& shortcut : ShortcutPaths()) paths.push_back(shortcut);
  for (const std::wstring& pinned : PinnedShortcuts()) paths.push_back(pinned);
  AnnounceChanged(paths);
}

}  // namespace

std::wstring KnownFolderPath(REFKNOWNFOLDERID folder) {
  // The shell allocates the text even when it fails; the holder frees it.
  TaskMemoryText path;
  const HRESULT result = SHGetKnownFolderPath(folder, 0, nullptr, path.put());
  return SUCCEEDED(result) && path ? std::wstring(path.get()) : std::wstring();
}

void AnnounceChanged(const std::vector<std::wstring>& paths) {
  for (const std::wstring& path : paths) {
    SHChangeNotify(SHCNE_UPDATEITEM, SHCNF_PATHW | SHCNF_FLUSHNOWAIT, path.c_str(), nullptr);
  }
  SHChangeNotify(SHCNE_ASSOCCHANGED, SHCNF_FLUSHNOWAIT, nullptr, nullptr);
}

std::vector<std::wstring> ShortcutPaths() {
  std::vector<std::wstring> paths;
  for (const KNOWNFOLDERID* folder : {&FOLDERID_Desktop, &FOLDERID_Programs}) {
    const std::wstring resolved = KnownFolderPath(*folder);
    if (!resolved.empty()) paths.push_back(JoinPath(resolved, kShortcutName));
  }
  return paths;
}

void MakeShortcuts(const std::wstring& target, const std::wstring& workingFolder, bool onlyExisting) {
  for (const std::wstring& shortcut : ShortcutPaths()) {
    if (onlyExisting && !PathStatusReadable(shortcut)) continue;
    MakeShortcut(shortcut, target, workingFolder);
  }
}

bool IsPinnedShortcutName(std::wstring_view name) {
  const std::size_t dot = name.rfind(L'.');
  return dot != std::wstring_view::npos && dot != 0 && name.substr(dot) == L".lnk";
}

// The upkeep runs at every start before the window exists; nothing that
// goes wrong in it may end the program, so it swallows whatever is thrown.
void MakeShortcutsOnce(const std::wstring& launcherExecutable, const std::wstring& installFolder) try {
  const std::wstring marker = JoinPath(installFolder, ShortcutMarkerName);
  if (PathStatusReadable(marker)) return;
  MakeShortcuts(launcherExecutable, installFolder, false);
  WriteMarker(marker, "made");
} catch (...) {
  TraceCaught(L"making the shortcuts");
}

void RefreshIcons(const std::wstring& launcherExecutable, const std::wstring& installFolder) try {
  const std::wstring marker = JoinPath(installFolder, IconMarkerName);
  const std::string version = NarrowLow(LauncherVersionText);
  if (ReadFirstLine(marker) == version) return;
  MakeShortcuts(launcherExecutable, installFolder, true);
  Announce(launcherExecutable, installFolder);
  WriteMarker(marker, version);
} catch (...) {
  TraceCaught(L"refreshing the icons");
}

}  // namespace launcher
