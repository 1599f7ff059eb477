#include "core/install_layout.h"
#include "publisher/patch_summary.h"

#include <cstdio>
#include <map>
#include <set>

namespace publisher {
namespace {

std::string Files(std::size_t count) { return std::to_string(count) + (count == 1 ? " file" : " files"); }

}  // namespace

std::string Mebibytes(std::uint64_t bytes) {
  char text[32];
  std::snprintf(text, sizeof text, "%.1f MiB", static_cast<double>(bytes) / (1024.0 * 1024.0));
  return text;
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
  const std::string who = s.fromVersion.empty() ? "no release in the tree yet: players will fetch "
                                                : "players on " + s.fromVersion + " will fetch ";
  std::string text = who + Files(s.added.size() + s.changed.size()) + ", " + Mebibytes(s.fetchBytes) + " (" +
                     std::to_string(s.added.size()) + " new, " + std::to_string(s.changed.size()) + " changed, " +
                     std::to_string(s.removed.size()) + " removed); the manifest of " + s.toVersion + " is " +
                     std::to_string(s.manifestBytes) + " bytes, fetched by every open launcher every 15 seconds\n";
  if (listFiles) {
    for (const launcher::ManifestFile& file : s.added)
      text += "  new      " + file.path + " (" + Mebibytes(file.size) + ")\n";
    for (const launcher::ManifestFile& file : s.changed) {
      text += "  changed  " + file.path + " (" + Mebibytes(file.size) + ")\n";
    }
    for (const std::string& path : s.removed) text += "  removed  " + path + "\n";
  }
  return text;
}

}  // namespace publisher
