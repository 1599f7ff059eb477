#include "publisher/patch_summary.h"

#include <algorithm>
#include <cstdio>
#include <map>
#include <set>

#include "core/install_layout.h"
#include "core/signature_file.h"

namespace publisher {
namespace {

std::string Files(std::size_t count) { return std::to_string(count) + (count == 1 ? " file" : " files"); }

std::string OneDecimal(double value, const char* unit) {
  char text[48];
  std::snprintf(text, sizeof text, "%.1f %s", value, unit);
  return text;
}

}  // namespace

std::string Mebibytes(std::uint64_t bytes) {
  char text[32];
  std::snprintf(text, sizeof text, "%.1f MiB", static_cast<double>(bytes) / (1024.0 * 1024.0));
  return text;
}

std::string SizeText(std::uint64_t bytes) {
  const double value = static_cast<double>(bytes);
  if (bytes < 1024) return std::to_string(bytes) + (bytes == 1 ? " byte" : " bytes");
  if (bytes < (1ull << 20)) return OneDecimal(value / 1024.0, "KiB");
  if (bytes < (1ull << 30)) return OneDecimal(value / (1024.0 * 1024.0), "MiB");
  return OneDecimal(value / (1024.0 * 1024.0 * 1024.0), "GiB");
}

std::string LauncherSizeText(std::uint64_t bytes) {
  return std::to_string(std::max<std::uint64_t>(bytes >> 20, 1)) + " MB";
}

PatchSummary SummarisePatch(const launcher::Manifest& published, const launcher::Manifest& next,
                            std::size_t nextManifestBytes) {
  PatchSummary summary;
  summary.fromVersion = published.version;
  summary.toVersion = next.version;
  summary.manifestBytes = nextManifestBytes;

  // A manifest may list a path twice with the same digest; the first entry
  // stands for the path.
  std::map<std::string, const launcher::ManifestFile*> before;
  for (const launcher::ManifestFile& file : published.files) before.emplace(file.path, &file);
  std::set<std::string> seen;
  for (const launcher::ManifestFile& file : next.files) {
    if (!seen.insert(file.path).second) continue;
    const auto it = before.find(file.path);
    if (it == before.end()) {
      if (published.version.empty() && file.path == launcher::LauncherFileName) {
        summary.launcherAlreadyThere = file.size;
        continue;
      }
      summary.added.push_back(file);
    } else if (it->second->sha256 != file.sha256) {
      summary.changed.push_back(file);
    } else {
      continue;
    }
    summary.fetchBytes += file.size;
  }
  for (const auto& [path, file] : before) {
    if (path.starts_with(launcher::GamePathPrefix) && !seen.count(path)) summary.removed.push_back(path);
  }
  return summary;
}

std::string PatchSummaryText(const PatchSummary& s, bool listFiles) {
  const std::size_t count = s.added.size() + s.changed.size();
  const bool first = s.fromVersion.empty();
  std::string text = first ? "no release in the tree yet: a first install fetches " + Files(count)
                           : "players on " + s.fromVersion + " will fetch " + Files(count);
  // The figure players read in the launcher's window, then the exact one.
  if (count > 0) {
    text += ", shown to " + std::string(first ? "players" : "them") + " as " + LauncherSizeText(s.fetchBytes) + " (" +
            SizeText(s.fetchBytes) + ")";
  }
  if (!first) {
    text += ": " + std::to_string(s.added.size()) + " new, " + std::to_string(s.changed.size()) + " changed, " +
            std::to_string(s.removed.size()) + " removed";
  } else if (s.launcherAlreadyThere > 0) {
    text += "; not counted: the launcher (" + SizeText(s.launcherAlreadyThere) +
            "), which installs itself when players start this release's launcher";
  }
  // An open launcher's probe asks for the signature alone while it is the
  // one it verified last, so the manifest costs each launcher one fetch.
  text += "; the manifest of " + s.toVersion + " is " + std::to_string(s.manifestBytes) +
          " bytes, fetched once by each launcher (an open one asks for the " +
          std::to_string(launcher::kSignatureFileTextBytes) +
          "-byte signature every 15 seconds and fetches the manifest again only when that changes)\n";
  if (listFiles) {
    for (const launcher::ManifestFile& file : s.added)
      text += "  new      " + file.path + " (" + SizeText(file.size) + ")\n";
    for (const launcher::ManifestFile& file : s.changed) {
      text += "  changed  " + file.path + " (" + SizeText(file.size) + ")\n";
    }
    for (const std::string& path : s.removed) text += "  removed  " + path + "\n";
  }
  return text;
}

}  // namespace publisher
