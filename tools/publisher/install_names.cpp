#include "tools/publisher/install_names.h"

#include <array>
#include <cstdio>
#include <map>

#include "release/manifest.h"
#include "release/records.h"

namespace publisher {
namespace {

// Names Win32 maps to devices whatever the folder, also with an extension
// ("nul.txt") and with spaces before the dot ("CON .log").
constexpr std::array<std::string_view, 24> kDeviceNames = {
    "CON",  "PRN",  "AUX",  "NUL",  "COM1", "COM2", "COM3", "COM4", "COM5", "COM6", "COM7",   "COM8",
    "COM9", "LPT1", "LPT2", "LPT3", "LPT4", "LPT5", "LPT6", "LPT7", "LPT8", "LPT9", "CONIN$", "CONOUT$",
};

// Besides '/', '\', ':' and control bytes, which the launcher's rule already
// refuses, these are the characters Windows does not allow in a name.
constexpr std::string_view kWindowsForbidden = "<>\"|?*";

char AsciiLower(char c) { return (c >= 'A' && c <= 'Z') ? static_cast<char>(c - 'A' + 'a') : c; }

std::string Folded(std::string_view text) {
  std::string folded(text);
  for (char& c : folded) c = AsciiLower(c);
  return folded;
}

bool EqualFolded(std::string_view a, std::string_view b) {
  if (a.size() != b.size()) return false;
  for (std::size_t i = 0; i < a.size(); ++i) {
    if (AsciiLower(a[i]) != AsciiLower(b[i])) return false;
  }
  return true;
}

std::string Quoted(std::string_view text) { return "\"" + Printable(text) + "\""; }

// The launcher's rule, with the reason spelled out. IsManifestPathAllowed
// stays the authority: whatever it refuses is refused here too.
std::string LauncherRuleProblem(std::string_view path) {
  if (path.empty()) return "the path is empty";
  for (char c : path) {
    const auto byte = static_cast<unsigned char>(c);
    if (byte < 0x20 || byte > 0x7F) {
      return "contains a byte outside printable ASCII; the launcher accepts only printable ASCII paths";
    }
  }
  if (path.find('\\') != std::string_view::npos) return "contains a backslash, which the launcher refuses";
  if (path.find(':') != std::string_view::npos) return "contains a colon, which the launcher refuses";
  if (path.find("..") != std::string_view::npos)
    return "contains \"..\", which the launcher refuses anywhere in a path";
  if (!launcher::IsManifestPathAllowed(path)) {
    return "the launcher accepts only \"" + std::string(launcher::LauncherFileName) + "\" and paths under \"game/\"";
  }
  return {};
}

std::string ComponentProblem(std::string_view name) {
  if (name.empty()) return "has an empty name (two '/' in a row, or a '/' at the end)";
  const std::size_t forbidden = name.find_first_of(kWindowsForbidden);
  if (forbidden != std::string_view::npos) {
    return "the name " + Quoted(name) + " contains '" + std::string(1, name[forbidden]) +
           "', which Windows does not allow in file names";
  }
  if (name.back() == '.') return "the name " + Quoted(name) + " ends in a dot, which Windows drops";
  if (name.back() == ' ') return "the name " + Quoted(name) + " ends in a space, which Windows drops";
  std::string_view base = name.substr(0, name.find('.'));
  while (!base.empty() && base.back() == ' ') base.remove_suffix(1);
  for (std::string_view device : kDeviceNames) {
    if (EqualFolded(base, device)) {
      return "the name " + Quoted(name) + " is the reserved device name " + std::string(device) +
             " on Windows, which cannot be a file or folder";
    }
  }
  return {};
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

std::string PathProblem(std::string_view path) {
  if (std::string problem = LauncherRuleProblem(path); !problem.empty()) return problem;
  std::size_t start = 0;
  for (;;) {
    const std::size_t slash = path.find('/', start);
    const std::string_view name =
        path.substr(start, slash == std::string_view::npos ? std::string_view::npos : slash - start);
    if (std::string problem = ComponentProblem(name); !problem.empty()) return problem;
    if (slash == std::string_view::npos) return {};
    start = slash + 1;
  }
}

std::vector<std::string> InstallPathProblems(std::span<const std::string> paths) {
  std::vector<std::string> problems;
  for (const std::string& path : paths) {
    if (std::string problem = PathProblem(path); !problem.empty()) problems.push_back(Printable(path) + ": " + problem);
  }

  // Folded path -> the first listed path with that spelling; folded folder
  // -> a listed file that lies inside it.
  std::map<std::string, const std::string*> files;
  std::map<std::string, const std::string*> folders;
  for (const std::string& path : paths) {
    const std::string folded = Folded(path);
    const auto [it, inserted] = files.try_emplace(folded, &path);
    if (!inserted) {
      if (*it->second == path) {
        problems.push_back(Printable(path) + ": listed twice");
      } else {
        problems.push_back(Printable(*it->second) + " and " + Printable(path) +
                           " differ only in letter case; Windows would keep them as one file");
      }
    }
    for (std::size_t slash = folded.find('/'); slash != std::string::npos; slash = folded.find('/', slash + 1)) {
      folders.try_emplace(folded.substr(0, slash), &path);
    }
  }
  for (const std::string& path : paths) {
    const std::string folded = Folded(path);
    if (const auto folder = folders.find(folded); folder != folders.end()) {
      problems.push_back(Printable(path) + " is a file, but " + Printable(*folder->second) +
                         " needs a folder of that name");
    }
    if (const auto partial = files.find(folded + ".partial"); partial != files.end()) {
      problems.push_back(Printable(*partial->second) + " would be overwritten by the launcher while it downloads " +
                         Printable(path) + " (it downloads into the file's name plus \".partial\")");
    }
  }
  return problems;
}

}  // namespace publisher
