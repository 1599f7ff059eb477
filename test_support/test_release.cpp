#include "test_support/test_release.h"

#include <windows.h>

#include <bcrypt.h>

#include <gtest/gtest.h>

#include <array>
#include <cstring>
#include <span>
#include <stdexcept>

#include "core/chunk_index.h"
#include "core/chunker.h"
#include "core/hex.h"
#include "core/install_layout.h"
#include "core/manifest.h"
#include "core/paths.h"
#include "core/release_layout.h"
#include "core/signature_file.h"
#include "core/text.h"
#include "release/chunk_hasher.h"
#include "release/cng_handles.h"
#include "release/sha256.h"
#include "test_support/temp_folder.h"
#include "test_support/test_server.h"

namespace launcher::testing {
namespace {

// The committed test-only key, built in at configure time from
// test_support/keys so the fixture reads no file at run time.
constexpr char kTestKeyXY[] = STONEWAKE_TEST_KEY_XY;
constexpr char kTestKeyD[] = STONEWAKE_TEST_KEY_D;

// The path a request for a file of the release tree asks for.
std::string ServerPath(std::string_view treePath, std::string_view name = {}) {
  std::string path = "/";
  path += treePath;
  path += name;
  return path;
}

std::vector<std::uint8_t> FromHex(std::string_view hex) {
  std::optional<std::vector<std::uint8_t>> bytes = ParseHex(hex);
  if (!bytes) throw std::invalid_argument("the test key is not hex digits");
  return std::move(*bytes);
}

std::array<std::uint8_t, 32> Digest(std::string_view bytes) {
  Sha256Hash hash;
  if (!bytes.empty()) hash.Update(AsBytes(bytes));
  return hash.Finish();
}

std::uint64_t PublishedSize(const ReleaseFile& file) {
  return file.publishedSize ? *file.publishedSize : file.content.size();
}

std::vector<ManifestFile> Records(const TestRelease& release) {
  std::vector<ManifestFile> records;
  for (const ReleaseFile& file : release.files) {
    records.push_back(ManifestFile{file.path, Sha256Hex(file.content), PublishedSize(file)});
  }
  return records;
}

}  // namespace

std::string Sha256Hex(std::string_view bytes) { return HexLower(Digest(bytes)); }

std::string ChunkIndexTextOf(std::string_view content) {
  CngChunkHasher hasher;
  ChunkSplitter splitter(kChunkRule, hasher);
  splitter.Add(std::span(reinterpret_cast<const std::uint8_t*>(content.data()), content.size()));
  ChunkIndex index;
  index.objectSha256 = Sha256Hex(content);
  index.objectSize = content.size();
  index.rule = kChunkRule;
  index.chunks = splitter.Finish();
  return ChunkIndexText(index);
}

std::string ManifestText(std::string_view version, const std::vector<ManifestFile>& files, std::string_view commit,
                         bool rollback) {
  return launcher::ManifestText(Manifest{std::string(version), std::string(commit), rollback, files});
}

std::string ManifestText(const TestRelease& release) {
  return ManifestText(release.version, Records(release), release.commit, release.rollback);
}

std::string SignatureText(std::string_view manifest) {
  const std::vector<std::uint8_t> xy = FromHex(kTestKeyXY);
  const std::vector<std::uint8_t> d = FromHex(kTestKeyD);
  if (xy.size() != 64 || d.size() != 32) throw std::runtime_error("test key hex has the wrong length");

  // ECCPRIVATEBLOB: the header, then X, Y and d, 32 bytes each.
  std::vector<std::uint8_t> blob(sizeof(BCRYPT_ECCKEY_BLOB));
  BCRYPT_ECCKEY_BLOB header{BCRYPT_ECDSA_PRIVATE_P256_MAGIC, 32};
  std::memcpy(blob.data(), &header, sizeof(header));
  blob.insert(blob.end(), xy.begin(), xy.end());
  blob.insert(blob.end(), d.begin(), d.end());

  AlgorithmHandle provider;
  if (BCryptOpenAlgorithmProvider(provider.put(), BCRYPT_ECDSA_P256_ALGORITHM, nullptr, 0) < 0) {
    throw std::runtime_error("no ECDSA P-256 provider");
  }
  KeyHandle key;
  if (BCryptImportKeyPair(provider.get(), nullptr, BCRYPT_ECCPRIVATE_BLOB, key.put(), blob.data(),
                          static_cast<ULONG>(blob.size()), 0) < 0) {
    throw std::runtime_error("cannot import the test key");
  }
  std::array<std::uint8_t, 32> digest = Digest(manifest);
  std::array<std::uint8_t, 64> signature{};
  ULONG written = 0;
  if (BCryptSignHash(key.get(), nullptr, digest.data(), static_cast<ULONG>(digest.size()), signature.data(),
                     static_cast<ULONG>(signature.size()), &written, 0) < 0 ||
      written != signature.size()) {
    throw std::runtime_error("cannot sign with the test key");
  }
  return SignatureFileText(signature);
}

void ServeManifest(TestServer& server, std::string_view manifest, std::string_view signature) {
  server.Set(ServerPath(ManifestPath), TestResponse::Ok(std::string(manifest)));
  server.Set(ServerPath(SignaturePath), TestResponse::Ok(std::string(signature)));
}

void ServeObject(TestServer& server, std::string_view sha256, std::string_view content) {
  server.Set(ServerPath(ObjectPathPrefix, sha256), TestResponse::Ok(std::string(content)));
}

void PublishRelease(TestServer& server, const TestRelease& release) {
  for (const ReleaseFile& file : release.files) ServeObject(server, Sha256Hex(file.content), file.content);
  const std::string manifest = ManifestText(release);
  ServeManifest(server, manifest, SignatureText(manifest));
}

void PublishTamperedRelease(TestServer& server, const TestRelease& release, std::string_view from,
                            std::string_view to) {
  PublishRelease(server, release);
  const std::string signedText = ManifestText(release);
  std::string tampered = signedText;
  const std::size_t at = tampered.find(from);
  if (at == std::string::npos) throw std::invalid_argument("text to tamper with is not in the manifest");
  tampered.replace(at, from.size(), to);
  ServeManifest(server, tampered, SignatureText(signedText));
}

std::wstring InstallPath(const std::wstring& installFolder, std::string_view manifestPath) {
  return LocalPathFor(installFolder, ManifestFile{std::string(manifestPath), {}, 0});
}

void WriteInstall(const std::wstring& installFolder, const TestRelease& release, std::string_view installedVersion) {
  for (const ReleaseFile& file : release.files) WriteFileBytes(InstallPath(installFolder, file.path), file.content);
  if (!installedVersion.empty()) {
    WriteFileBytes(JoinPath(installFolder, kInstalledRecordName), std::string(installedVersion) + "\r\n");
  }
}

}  // namespace launcher::testing
