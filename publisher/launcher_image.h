// What a launcher executable says about itself, read from its Windows
// resources without running it: the file version players' launchers
// compare, and the release key and server it was built to trust
// (core/release_trust.h). A release that carries a launcher hands both to
// every player who takes it.
#pragma once

#include <cstdint>
#include <filesystem>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "core/release_trust.h"
#include "publisher/authenticode.h"

namespace publisher {

struct LauncherFacts {
  // "MAJOR.MINOR.PATCH" from the version resource's file version, with a
  // fourth part only when it is not 0; nothing without a version resource.
  std::optional<std::string> version;
  // Nothing when the executable carries no release trust resource, or one
  // that is not of that form.
  std::optional<launcher::ReleaseTrust> trust;
  // Its Authenticode signature (Kind::None for a file that is no PE image).
  AuthenticodeSignature signature;
};

// Reads a PE image (32- or 64-bit) as the Windows loader lays out its
// resources: the resource directory through the section table, type, name
// and the first language; and its certificate table. Never reads outside
// `image`; a malformed resource gives nothing, a malformed certificate
// table a Malformed signature.
LauncherFacts ReadLauncherFacts(std::span<const std::uint8_t> image);

// The whole file; nothing when it cannot be opened or read.
std::optional<std::vector<std::uint8_t>> ReadImageFile(const std::filesystem::path& file);

// "launcher 2.5.2 trusts key 3f2a1b0c...d4e5f6c9 and asks http://host:8080;
// signed by CN=Studio, thumbprint 1f0e...(64 digits), timestamped" (what a
// studio reads before the launcher goes to every player).
std::string LauncherTrustLine(const LauncherFacts& facts);

// A key as a person compares it: its first and last 8 hex digits.
std::string ShortKey(std::string_view hex);

// What would strand or move players who take a release carrying this
// launcher, one sentence each: no trust resource to check; trusting a key
// other than `signingKeyHex` (unless `rotateKey`: the studio moves players
// to the launcher's key); asking a server other than `server` (when it is
// not empty).
std::vector<std::string> LauncherTrustProblems(const LauncherFacts& facts, std::string_view signingKeyHex,
                                               bool rotateKey, std::string_view server);

// "signed by CN=Studio, thumbprint ..., timestamped", "not signed", or what
// is wrong with the signature.
std::string LauncherSignatureText(const AuthenticodeSignature& signature);

// What Windows would show players as a broken or tampered program, one
// sentence each: a certificate table that cannot be read, a signature whose
// digest is not the file's (the file changed after signing) or that does
// not hold. A release carrying such a launcher is refused.
std::vector<std::string> LauncherSignatureProblems(const LauncherFacts& facts);

// The warning for a player build that is not signed: what players will see.
// Nothing for a signed launcher, and for a build that trusts `testKeyHex`
// (test builds never reach players).
std::optional<std::string> UnsignedLauncherWarning(const LauncherFacts& facts, std::string_view testKeyHex);

// A line for a launcher signed by another certificate than `published`,
// the launcher of the release players have now (`publishedVersion`):
// certificates get renewed, so it is said, not refused. Nothing when either
// is unsigned or both carry the same certificate.
std::optional<std::string> CertificateChangeLine(const LauncherFacts& next, const LauncherFacts& published,
                                                 std::string_view publishedVersion);

}  // namespace publisher
