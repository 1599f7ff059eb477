// The command line, read once at start into the options it can carry.
#pragma once

#include <optional>
#include <string>
#include <vector>

namespace launcher {

struct LaunchOptions {
  // "--paint-to=<folder>": paint the preview frames into the folder and end.
  std::optional<std::wstring> paintTo;
  // "--uninstall": remove the installation and end.
  bool uninstall = false;
  // "--updated": started by a predecessor that replaced itself; wait for it
  // to end instead of bringing it to the front.
  bool updated = false;
  // "--no-windows-fonts": paint with the fonts carried inside the program
  // only, so that previews do not depend on the machine's fonts.
  bool noWindowsFonts = false;
  // "--verify": forget which installed files were verified, so that the
  // next check hashes every file.
  bool verify = false;
};

// The options among `arguments` (the program's own path excluded), each a
// whole argument compared case-sensitively; "--paint-to=" takes the rest of
// its argument as the folder. When both modes are asked for, painting wins.
// Unknown arguments are ignored.
LaunchOptions ParseLaunchOptions(const std::vector<std::wstring>& arguments);

// The process's own command line, split the way the system splits it (so a
// quoted folder may hold spaces), then parsed as above.
LaunchOptions ReadLaunchOptions();

}  // namespace launcher
