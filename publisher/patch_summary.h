// What players on the published release will download when the next one
// goes out: a studio sees the cost of a patch before shipping it.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "core/records.h"

namespace publisher {

struct PatchSummary {
  std::string fromVersion;  // the release players have now
  std::string toVersion;
  std::vector<launcher::ManifestFile> added;    // paths the published release does not list
  std::vector<launcher::ManifestFile> changed;  // listed in both with other content
  std::vector<std::string> removed;             // the launcher deletes these game files
  std::uint64_t fetchBytes = 0;                 // sum of the sizes of added and changed files
  std::size_t manifestBytes = 0;                // fetched once by each launcher
  // On a first install the launcher carried by the release, when there is
  // one: players start that launcher, which installs itself, so it is not
  // fetched and not counted in `added` or `fetchBytes`.
  std::uint64_t launcherAlreadyThere = 0;
};

// Sizes in the publisher's reports: "12.3 MiB".
std::string Mebibytes(std::uint64_t bytes);

// A size for a list of files: "512 bytes", "12.3 KiB", "4.0 MiB", "1.2 GiB".
std::string SizeText(std::uint64_t bytes);

// A download size as players' launchers word it: whole units of 2^20 bytes
// rounded down, at least 1, labelled "MB" ("Ready to install. The download
// is 229 MB.").
std::string LauncherSizeText(std::uint64_t bytes);

// Compares by path, as a player's launcher does with an install that matches
// `published`: a path whose content differs is fetched again, a path the new
// release no longer lists is removed (only under "game/": the launcher's own
// file is never deleted by a release). An empty `published` (no version)
// stands for a first install.
PatchSummary SummarisePatch(const launcher::Manifest& published, const launcher::Manifest& next,
                            std::size_t nextManifestBytes);

// One summary line; with `listFiles` also one line per new, changed and
// removed file.
std::string PatchSummaryText(const PatchSummary& summary, bool listFiles);

}  // namespace publisher
