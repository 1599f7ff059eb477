// The launcher a release is to carry, checked before anything is written:
// players' launchers replace themselves with it, and every player who takes
// the release trusts what it trusts from then on.
#pragma once

#include <filesystem>
#include <optional>
#include <string>
#include <vector>

#include "publisher/crypto.h"
#include "publisher/game_folder.h"
#include "publisher/launcher_image.h"
#include "publisher/publish_report.h"

namespace publisher {

struct CheckedLauncher {
  PlannedFile file;     // its manifest entry, with the digest of what was checked
  LauncherFacts facts;  // what it says of itself
};

// Reads `launcherExe` once and checks that it is a Windows executable and
// that the key and server it trusts fit the signing key and `server`
// (LauncherTrustProblems, with `rotateKey`). Each problem is appended to
// `problems`, naming the file. Nothing when the file cannot be read or is
// no Windows executable; otherwise the launcher, whatever problems its
// trust has.
std::optional<CheckedLauncher> CheckLauncher(const std::filesystem::path& launcherExe, const PublicKey& signingKey,
                                             bool rotateKey, const std::string& server,
                                             std::vector<std::string>& problems, const PublishReport& report);

}  // namespace publisher
