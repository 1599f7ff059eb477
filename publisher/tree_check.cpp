#include "publisher/tree_check.h"

#include <algorithm>
#include <fstream>
#include <map>
#include <optional>
#include <string>
#include <vector>

#include "core/manifest.h"
#include "core/signature_file.h"
#include "publisher/install_names.h"
#include "publisher/publish_error.h"
#include "publisher/release_tree.h"

namespace publisher {
namespace {

namespace fs = std::filesystem;

constexpr std::size_t kMaxListed = 20;

std::span<const std::uint8_t> Bytes(const std::string& text) {
  return std::span(reinterpret_cast<const std::uint8_t*>(text.data()), text.size());
}

// The whole file, or nothing when it cannot be read or is larger than the
// launcher fetches.
std::optional<std::string> ReadFetchable(const fs::path& file, std::vector<std::string>& problems,
                                         const std::string& name) {
  std::ifstream in(file, std::ios::binary);
  if (!in) {
    problems.push_back(name + ": missing or unreadable");
    return std::nullopt;
  }
  std::string bytes(kMaxManifestBytes + 1, '\0');
  in.read(bytes.data(), static_cast<std::streamsize>(bytes.size()));
  if (in.bad()) {
    problems.push_back(name + ": unreadable");
    return std::nullopt;
  }
  bytes.resize(static_cast<std::size_t>(in.gcount()));
  if (bytes.size() > kMaxManifestBytes) {
    problems.push_back(name + ": larger than the " + std::to_string(kMaxManifestBytes) + " bytes the launcher fetches");
    return std::nullopt;
  }
  return bytes;
}

[[noreturn]] void Fail(const fs::path& tree, const std::vector<std::string>& problems) {
  std::string message = tree.string() + " does not hold a release players can install:";
  for (std::size_t i = 0; i < problems.size() && i < kMaxListed; ++i) message += "\n  " + problems[i];
  if (problems.size() > kMaxListed) message += "\n  and " + std::to_string(problems.size() - kMaxListed) + " more";
  throw PublishError(message);
}

}  // namespace

TreeSummary CheckTree(const fs::path& tree, const PublicKey& key) {
  std::vector<std::string> problems;
  const std::optional<std::string> manifestText =
      ReadFetchable(tree / "latest" / "manifest.txt", problems, "latest/manifest.txt");
  const std::optional<std::string> signatureText =
      ReadFetchable(tree / "latest" / "manifest.sig", problems, "latest/manifest.sig");
  if (!manifestText || !signatureText) Fail(tree, problems);

  // The launcher's own order: the signature file is read, the signature
  // checked, and only then is the manifest parsed.
  RawSignature signature;
  try {
    const std::vector<std::uint8_t> raw = launcher::ParseSignatureFile(Bytes(*signatureText));
    std::copy(raw.begin(), raw.end(), signature.begin());
  } catch (const launcher::LauncherError&) {
    problems.push_back("latest/manifest.sig: not a signature file (\"ecdsa-p256-sha256 \" and 128 hex digits)");
    Fail(tree, problems);
  }
  if (!Verify(key, Bytes(*manifestText), signature)) {
    problems.push_back("latest/manifest.sig: not a valid signature of latest/manifest.txt under the public key " +
                       PublicKeyHex(key).substr(0, 16) +
                       "...: the manifest was changed after signing, or another key signed it");
    Fail(tree, problems);
  }
  TreeSummary summary;
  try {
    summary.manifest = launcher::ParseManifest(Bytes(*manifestText));
  } catch (const launcher::LauncherError&) {
    problems.push_back(
        "latest/manifest.txt: signed, but the launcher refuses it: it breaks the manifest grammar, or names paths a "
        "player's install cannot hold as written (publish it again with this publisher to see which)");
    Fail(tree, problems);
  }

  std::vector<std::string> paths;
  for (const launcher::ManifestFile& file : summary.manifest.files) paths.push_back(file.path);
  problems = InstallPathProblems(paths);

  std::map<std::string, std::uint64_t> objects;  // digest -> listed size
  for (const launcher::ManifestFile& file : summary.manifest.files) {
    summary.bytes += file.size;
    const auto [it, inserted] = objects.try_emplace(file.sha256, file.size);
    if (!inserted && it->second != file.size) {
      problems.push_back(file.path + ": listed with size " + std::to_string(file.size) +
                         ", another file with the same digest with size " + std::to_string(it->second));
    }
  }
  for (const auto& [sha256, size] : objects) {
    const fs::path object = tree / "objects" / sha256;
    const std::string name = "objects/" + sha256;
    std::error_code error;
    if (!fs::is_regular_file(object, error)) {
      problems.push_back(name + ": missing");
      continue;
    }
    const FileDigest digest = DigestFile(object);
    if (digest.size != size) {
      problems.push_back(name + ": " + std::to_string(digest.size) + " bytes, but the manifest lists " +
                         std::to_string(size));
    } else if (digest.sha256 != sha256) {
      problems.push_back(name + ": its content has the digest " + digest.sha256);
    }
  }
  if (!problems.empty()) Fail(tree, problems);
  summary.objects = objects.size();
  return summary;
}

}  // namespace publisher
