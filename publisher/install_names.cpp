#include "publisher/install_names.h"

#include <cctype>
#include <cstdio>

#include "core/install_paths.h"
#include "core/records.h"

namespace publisher {
namespace {

// Appended piece by piece: GCC 12 warns (-Wrestrict, wrongly) about
// "literal" + std::string&& once it is inlined at -O2.
std::string Quoted(std::string_view text) {
  std::string quoted(1, '"');
  quoted += Printable(text);
  quoted += '"';
  return quoted;
}

// The device a reserved name stands for: "aux .log" is AUX.
std::string DeviceOf(std::string_view name) {
  std::string device(name.substr(0, name.find('.')));
  while (!device.empty() && device.back() == ' ') device.pop_back();
  for (char& c : device) c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
  return device;
}

// The shared rule's verdict, worded for the studio.
std::string FaultText(const launcher::PathCheck& check) {
  using launcher::PathFault;
  const std::string name = Quoted(check.name);
  switch (check.fault) {
    case PathFault::None:
      return {};
    case PathFault::Empty:
      return "the path is empty";
    case PathFault::NotPrintableAscii:
      return "contains a byte outside printable ASCII; the launcher accepts only printable ASCII paths";
    case PathFault::BackslashOrColon:
      return "contains a backslash or a colon, which the launcher refuses";
    case PathFault::DotDot:
      return "contains \"..\", which the launcher refuses anywhere in a path";
    case PathFault::StartsWithSlash:
    case PathFault::OutsideInstall:
      return "the launcher accepts only \"" + std::string(launcher::LauncherFileName) + "\" and paths under \"game/\"";
    case PathFault::EmptyName:
      return "has an empty name (two '/' in a row, or a '/' at the end)";
    case PathFault::ForbiddenCharacter:
      return "the name " + name + " contains '" + check.name[check.name.find_first_of("<>\"|?*")] +
             "', which Windows does not allow in file names";
    case PathFault::EndsInDotOrSpace:
      return "the name " + name + (check.name.back() == '.' ? " ends in a dot" : " ends in a space") +
             ", which Windows drops";
    case PathFault::DeviceName:
      return "the name " + name + " is the reserved device name " + DeviceOf(check.name) +
             " on Windows, which cannot be a file or folder";
    case PathFault::NameTooLong:
      return "the name " + name + " has " + std::to_string(check.name.size()) + " characters; Windows holds at most " +
             std::to_string(launcher::kMaxNameChars) +
             ", and the launcher downloads a file under its name plus \".partial\"";
  }
  return "cannot be installed";
}

}  // namespace

std::string Printable(std::string_view text) {
  std::string out;
  for (char c : text) {
    const auto byte = static_cast<unsigned char>(c);
    if (byte >= 0x20 && byte < 0x7F && c != '\\') {
      out += c;
    } else if (c == '\\') {
      out += "\\\\";
    } else {
      char escaped[5];
      std::snprintf(escaped, sizeof escaped, "\\x%02X", byte);
      out += escaped;
    }
  }
  return out;
}

std::string PathProblem(std::string_view path) { return FaultText(launcher::CheckInstallPath(path)); }

std::vector<std::string> InstallPathProblems(std::span<const std::string> paths) {
  std::vector<std::string> problems;
  for (const std::string& path : paths) {
    if (std::string problem = PathProblem(path); !problem.empty()) problems.push_back(Printable(path) + ": " + problem);
  }
  // Stricter than the launcher, which takes the same file listed twice with
  // one digest: a published release names each file once, in one spelling.
  for (const launcher::PathClash& clash : launcher::FindPathClashes(paths)) {
    const std::string& first = paths[clash.first];
    const std::string& second = paths[clash.second];
    switch (clash.kind) {
      case launcher::PathClash::Kind::SameFile:
        problems.push_back(first == second ? Printable(first) + ": listed twice"
                                           : Printable(first) + " and " + Printable(second) +
                                                 " differ only in letter case; Windows would keep them as one file");
        break;
      case launcher::PathClash::Kind::Folder:
        problems.push_back(Printable(first) + " is a file, but " + Printable(second) + " needs a folder of that name");
        break;
      case launcher::PathClash::Kind::Partial:
        problems.push_back(Printable(second) + " would be overwritten by the launcher while it downloads " +
                           Printable(first) + " (it downloads into the file's name plus \".partial\")");
        break;
    }
  }
  return problems;
}

}  // namespace publisher
