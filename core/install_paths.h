// Which manifest paths an install on Windows can hold as written: the
// manifest's path rule plus what Windows refuses or silently renames. The
// launcher refuses a manifest that breaks it, and the publisher refuses to
// publish one, from this one rule.
#pragma once

#include <array>
#include <cstddef>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "core/install_layout.h"

namespace launcher {

// The longest name Windows file systems hold. A file is downloaded beside
// itself under its name plus ".partial", so its own name must be 8 shorter.
inline constexpr std::size_t kMaxNameChars = 255;

// Names Win32 maps to devices in every folder, also with an extension
// ("nul.txt") and with spaces before the dot ("CON .log"): a file of that
// name is written to the device, not into the folder.
inline constexpr std::array<std::string_view, 24> kDeviceNames = {
    "CON",  "PRN",  "AUX",  "NUL",  "COM1", "COM2", "COM3", "COM4", "COM5", "COM6", "COM7",   "COM8",
    "COM9", "LPT1", "LPT2", "LPT3", "LPT4", "LPT5", "LPT6", "LPT7", "LPT8", "LPT9", "CONIN$", "CONOUT$",
};

enum class PathFault {
  None,
  // The manifest's path rule (IsManifestPathAllowed), in its order.
  Empty,
  StartsWithSlash,
  BackslashOrColon,
  NotPrintableAscii,
  DotDot,
  OutsideInstall,  // neither the launcher's own file nor under "game/"
  // Per '/'-separated name, what Windows cannot hold under that name.
  EmptyName,           // "game//x", "game/" or a trailing '/'
  ForbiddenCharacter,  // < > " | ? *
  EndsInDotOrSpace,    // stored without it ("x." is "x"); "." itself too
  DeviceName,          // CON, PRN, AUX, NUL, COM1-9, LPT1-9, CONIN$, CONOUT$, any case and extension
  NameTooLong,         // over 255 characters, with ".partial" for the file itself
};

struct PathCheck {
  PathFault fault = PathFault::None;
  std::string_view name;  // the name at fault, for the per-name faults
};

// True when `path` may be named by a release: not empty, not starting with
// '/', no '\' or ':', only bytes 0x20-0x7F, no "..", and either exactly
// LauncherFileName or beginning with "game/".
bool IsManifestPathAllowed(std::string_view path);

// The first fault of `path`: the manifest's rule first, then each name from
// the left.
PathCheck CheckInstallPath(std::string_view path);

// Two listed paths that cannot both be installed as written.
struct PathClash {
  enum class Kind {
    SameFile,  // equal ignoring ASCII case (identical included): one file on Windows
    Partial,   // `second` is `first` + ".partial", where `first` is downloaded
    Folder,    // `first` is a file, and a folder on the way to `second`
  };
  Kind kind;
  std::size_t first;   // index into the paths
  std::size_t second;  // index into the paths
};

// Every clash among `paths`. For SameFile, `first` is the earliest path of
// that spelling and `second` each later one.
std::vector<PathClash> FindPathClashes(std::span<const std::string> paths);

}  // namespace launcher
