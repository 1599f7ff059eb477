#include "publisher/tree_check.h"

#include <algorithm>
#include <fstream>
#include <map>
#include <optional>
#include <string>
#include <vector>

#include "core/chunk_index.h"
#include "core/hex.h"
#include "core/install_layout.h"
#include "core/manifest.h"
#include "core/release_layout.h"
#include "core/signature_file.h"
#include "core/text.h"
#include "publisher/chunk_indexes.h"
#include "publisher/install_names.h"
#include "publisher/publish_error.h"
#include "publisher/release_tree.h"

namespace publisher {
namespace {

namespace fs = std::filesystem;

constexpr std::size_t kMaxListed = 20;

// The whole file, or nothing when it cannot be read or is larger than the
// launcher fetches.
std::optional<std::string> ReadFetchable(const fs::path& file, std::size_t limit, std::vector<std::string>& problems,
                                         const std::string& name) {
  std::optional<std::string> bytes = ReadAtMost(file, limit);
  if (!bytes) {
    problems.push_back(name + ": missing or unreadable");
  } else if (bytes->size() > limit) {
    problems.push_back(name + ": larger than the " + std::to_string(limit) + " bytes the launcher fetches");
    bytes.reset();
  }
  return bytes;
}

// Why the launcher refuses a signed manifest, in the launcher's own parser's
// words, naming the line at fault, or every path at fault when the paths
// are what it refuses.
std::vector<std::string> ManifestFaults(const launcher::ManifestReading& reading) {
  const std::string manifest(launcher::ManifestPath);
  const launcher::ManifestRefusal& refusal = *reading.refusal;
  std::vector<std::string> faults;
  if (refusal.kind == launcher::ManifestRefusal::Kind::Paths) {
    std::vector<std::string> paths;
    for (const launcher::ManifestFile& file : reading.manifest.files) paths.push_back(file.path);
    for (std::string& problem : InstallPathProblems(paths)) faults.push_back(manifest + " lists " + std::move(problem));
    if (!faults.empty()) return faults;
  }
  if (refusal.line == 0) {
    faults.push_back(manifest + ": signed, but the launcher refuses it: " + refusal.reason);
  } else {
    faults.push_back(manifest + " line " + std::to_string(refusal.line) + " (\"" +
                     Printable(std::string_view(refusal.text).substr(0, 80)) + "\"): " + refusal.reason);
  }
  return faults;
}

[[noreturn]] void Fail(const fs::path& tree, const std::vector<std::string>& problems) {
  std::string message = tree.string() + " does not hold a release players can install:";
  for (std::size_t i = 0; i < problems.size() && i < kMaxListed; ++i) message += "\n  " + problems[i];
  if (problems.size() > kMaxListed) message += "\n  and " + std::to_string(problems.size() - kMaxListed) + " more";
  throw PublishError(message);
}

// Where an index's chunks part from the object's own, in words; "" when
// they are the same.
std::string FirstChunkMismatch(const std::vector<launcher::Chunk>& listed, const std::vector<launcher::Chunk>& actual) {
  for (std::size_t i = 0; i < listed.size() && i < actual.size(); ++i) {
    if (listed[i] == actual[i]) continue;
    return "chunk " + std::to_string(i + 1) + " (at byte " + std::to_string(listed[i].offset) + ") lists " +
           std::to_string(listed[i].size) + " bytes with digest " + launcher::HexLower(listed[i].digest) +
           ", the object has " + std::to_string(actual[i].size) + " bytes with digest " +
           launcher::HexLower(actual[i].digest);
  }
  if (listed.size() != actual.size()) {
    return "it lists " + std::to_string(listed.size()) + " chunks, the object has " + std::to_string(actual.size());
  }
  return {};
}

}  // namespace

TreeSummary CheckTree(const fs::path& tree, const PublicKey& key, const TreeCheckOptions& options) {
  std::vector<std::string> problems;
  const std::optional<std::string> manifestText =
      ReadFetchable(tree / launcher::ManifestPath, kMaxManifestBytes, problems, std::string(launcher::ManifestPath));
  const std::optional<std::string> signatureText = ReadFetchable(tree / launcher::SignaturePath, kMaxSignatureFileBytes,
                                                                 problems, std::string(launcher::SignaturePath));
  if (!manifestText || !signatureText) Fail(tree, problems);

  // The launcher's own order: the signature file is read, the signature
  // checked, and only then is the manifest parsed.
  const std::optional<RawSignature> signature = SignatureOfFile(*signatureText);
  if (!signature) {
    problems.push_back(std::string(launcher::SignaturePath) +
                       ": not a signature file (\"ecdsa-p256-sha256 \" and 128 hex digits)");
    Fail(tree, problems);
  }
  if (!Verify(key, launcher::AsBytes(*manifestText), *signature)) {
    problems.push_back(std::string(launcher::SignaturePath) + ": not a valid signature of " +
                       std::string(launcher::ManifestPath) + " under the public key " +
                       PublicKeyHex(key).substr(0, 16) +
                       "...: the manifest was changed after signing, or another key signed it");
    Fail(tree, problems);
  }
  launcher::ManifestReading reading = launcher::ReadManifest(launcher::AsBytes(*manifestText));
  if (reading.refusal) {
    for (std::string& fault : ManifestFaults(reading)) problems.push_back(std::move(fault));
    Fail(tree, problems);
  }
  TreeSummary summary;
  summary.manifest = std::move(reading.manifest);

  std::vector<std::string> paths;
  for (const launcher::ManifestFile& file : summary.manifest.files) paths.push_back(file.path);
  problems = InstallPathProblems(paths);

  std::map<std::string, const launcher::ManifestFile*> objects;  // digest -> first file listing it
  for (const launcher::ManifestFile& file : summary.manifest.files) {
    summary.bytes += file.size;
    const auto [it, inserted] = objects.try_emplace(file.sha256, &file);
    if (!inserted && it->second->size != file.size) {
      problems.push_back(file.path + ": listed with size " + std::to_string(file.size) + ", but " + it->second->path +
                         " with the same digest with size " + std::to_string(it->second->size));
    }
  }
  for (const auto& [sha256, file] : objects) {
    const std::uint64_t size = file->size;
    const fs::path object = tree / launcher::ObjectsFolderName / sha256;
    const std::string name = std::string(launcher::ObjectPathPrefix) + sha256 + " (" + file->path + ")";
    std::error_code error;
    if (!fs::is_regular_file(object, error)) {
      problems.push_back(name + ": missing");
      continue;
    }
    // An object with an index is read once for both: its digest and the
    // chunks its index must list.
    const launcher::ParsedChunkIndex index = ReadChunkIndex(tree / launcher::ObjectsFolderName, sha256, size);
    const std::string indexName = launcher::ChunkIndexPath(sha256);
    if (!index.index && index.refusal.reason != "missing") {
      problems.push_back(indexName + (index.refusal.line ? " line " + std::to_string(index.refusal.line) : "") + ": " +
                         index.refusal.reason);
    }
    FileDigest digest;
    if (index.index) {
      const ChunkedFile chunked = ChunkFile(object, index.index->rule, WholeDigest::Yes);
      digest = chunked.digest;
      if (digest.size == size && digest.sha256 == sha256) {
        if (const std::string mismatch = FirstChunkMismatch(index.index->chunks, chunked.chunks); !mismatch.empty()) {
          problems.push_back(indexName + ": does not describe its object: " + mismatch);
        }
      }
    } else {
      digest = DigestFile(object);
    }
    if (digest.size != size) {
      problems.push_back(name + ": " + std::to_string(digest.size) + " bytes, but the manifest lists " +
                         std::to_string(size));
    } else if (digest.sha256 != sha256) {
      problems.push_back(name + ": its content has the digest " + digest.sha256);
    }
  }

  // Every player who takes the release trusts what its launcher trusts.
  for (const launcher::ManifestFile& file : summary.manifest.files) {
    if (file.path != launcher::LauncherFileName) continue;
    const fs::path object = tree / launcher::ObjectsFolderName / file.sha256;
    const std::optional<std::vector<std::uint8_t>> image = ReadImageFile(object);
    if (!image) continue;  // reported above as missing or unreadable
    summary.launcher = ReadLauncherFacts(*image);
    for (const std::string& problem :
         LauncherTrustProblems(*summary.launcher, PublicKeyHex(key), options.rotateKey, options.server)) {
      problems.push_back(file.path + " (objects/" + file.sha256 + "): " + problem);
    }
    break;
  }
  if (!problems.empty()) Fail(tree, problems);
  summary.objects = objects.size();
  return summary;
}

}  // namespace publisher
