#include "publisher/launcher_check.h"

#include <cstdint>
#include <string_view>
#include <system_error>

#include "core/install_layout.h"

namespace publisher {

namespace fs = std::filesystem;

namespace {

// Builds that trust the committed test key never reach players.
#ifdef STONEWAKE_TEST_PUBLIC_KEY
constexpr std::string_view kTestPublicKey = STONEWAKE_TEST_PUBLIC_KEY;
#else
constexpr std::string_view kTestPublicKey;
#endif

}  // namespace

std::optional<CheckedLauncher> CheckLauncher(const fs::path& launcherExe, const PublicKey& signingKey, bool rotateKey,
                                             const std::string& server, std::vector<std::string>& problems,
                                             const PublishReport& report) {
  std::error_code error;
  const fs::file_status status = fs::status(launcherExe, error);
  const std::optional<std::vector<std::uint8_t>> image =
      fs::is_regular_file(status) ? ReadImageFile(launcherExe) : std::nullopt;
  if (!image) {
    problems.push_back(launcherExe.string() + ": the launcher is not a file that can be read");
    return std::nullopt;
  }
  if (image->size() < 2 || (*image)[0] != 'M' || (*image)[1] != 'Z') {
    // Players' launchers replace themselves with whatever this names.
    problems.push_back(launcherExe.string() + ": the launcher is not a Windows executable");
    return std::nullopt;
  }
  // Every player who takes the release trusts what this launcher trusts
  // from then on.
  LauncherFacts facts = ReadLauncherFacts(*image);
  const std::string signingKeyHex = PublicKeyHex(signingKey);
  for (const std::string& problem : LauncherTrustProblems(facts, signingKeyHex, rotateKey, server)) {
    problems.push_back(launcherExe.string() + ": " + problem);
  }
  // Windows shows players a launcher changed after signing as tampered
  // with; an unsigned one only earns suspicion.
  for (const std::string& problem : LauncherSignatureProblems(facts)) {
    problems.push_back(launcherExe.string() + ": " + problem);
  }
  if (const auto warning = UnsignedLauncherWarning(facts, kTestPublicKey); warning && report.warning) {
    report.warning(*warning);
  }
  if (rotateKey && facts.trust && facts.trust->publicKeyHex == signingKeyHex && report.warning) {
    report.warning("--rotate-key: the launcher trusts the signing key already, so no key changes");
  }
  Sha256 hash;
  hash.Update(*image);
  return CheckedLauncher{{std::string(launcher::LauncherFileName), launcherExe, image->size(), hash.Finish()},
                         std::move(facts)};
}

}  // namespace publisher
