// Manifests signed by openssl with the test-only release key, and the
// signature-file helpers the tests that verify them share.
#pragma once

#include <cctype>
#include <cstdint>
#include <string>
#include <vector>

#include "core/signature_file.h"

namespace launcher::testing {

// Two releases and a manifest that breaks the grammar (a path with ".."),
// each signed with openssl and the test-only release key, and the first one
// signed again with a key the launcher does not trust.
inline const std::string kManifestA =
    "stonewake-manifest 1\n"
    "version 1.4.2\n"
    "commit 9f3c2e1\n"
    "file 1111111111111111111111111111111111111111111111111111111111111111 18342912 game/Stonewake.exe\n"
    "file 3333333333333333333333333333333333333333333333333333333333333333 2730496 Stonewake Launcher.exe\n"
    "end\n";
inline const std::string kManifestB =
    "stonewake-manifest 1\n"
    "version 1.4.3\n"
    "commit 9f3c2e1\n"
    "file 1111111111111111111111111111111111111111111111111111111111111111 18342912 game/Stonewake.exe\n"
    "file 3333333333333333333333333333333333333333333333333333333333333333 2730496 Stonewake Launcher.exe\n"
    "end\n";
inline const std::string kMalformed =
    "stonewake-manifest 1\n"
    "version 1.4.2\n"
    "file 1111111111111111111111111111111111111111111111111111111111111111 18342912 game/../Stonewake.exe\n"
    "end\n";

inline const std::string kSignatureA =
    "2534a9682b7657eb00ba6773e3f79f7614b2cfea2f9e30f3b91081d8989bbcbf"
    "55ca7f2b2fd14fe8dab5fe26470fe5ce7b74331e1707f4abc14e24c1c2202863";
inline const std::string kSignatureB =
    "655edc7d417aec9416d4df7eeca8f11948d8658ba4bfa65d58d7a9d36c602dd0"
    "4630708b56e6a0606568cc415111f9da790838163c5119513b52e66b5f3e543b";
inline const std::string kSignatureMalformed =
    "34fc2b56990c1ae861b2aa0385666f143512ab34e1cae35a87a1718d47b67720"
    "4d0860fcfa1ce2187dfb51f116b4076209436c4f7083b0c0a55cf60525a9cdd0";
inline const std::string kSignatureAOtherKey =
    "6c0122622f709a13ebfff3c9d04aecd5e7e6c066fe9fab4a35e209458933970f"
    "636545d3ca974f6e8e8691f23fe90dc1af9255c4c4d03ec8229281bc3debf2b8";

inline std::vector<std::uint8_t> Bytes(const std::string& text) {
  return std::vector<std::uint8_t>(text.begin(), text.end());
}

// The 64 signature bytes of 128 hex digits.
inline std::vector<std::uint8_t> Signature(const std::string& digits) {
  return ParseSignatureFile(Bytes("ecdsa-p256-sha256 " + digits));
}

// A manifest.sig file's text for 128 hex digits.
inline std::string SignatureFile(const std::string& digits) { return "ecdsa-p256-sha256 " + digits + "\n"; }

inline std::string WithCrLf(const std::string& text) {
  std::string out;
  for (char c : text) {
    if (c == '\n') out += '\r';
    out += c;
  }
  return out;
}

inline std::string Upper(std::string text) {
  for (char& c : text) c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
  return text;
}

}  // namespace launcher::testing
