#include "engine/verified_manifest.h"

#include <string>
#include <utility>
#include <vector>

#include "core/manifest.h"
#include "core/release_layout.h"
#include "core/signature_file.h"
#include "release/signature.h"
#include "transfer/body_fetch.h"

namespace launcher {

std::shared_ptr<const VerifiedManifestMemory::Pair> VerifiedManifestMemory::Last() const {
  const std::lock_guard<std::mutex> lock(mutex_);
  return last_;
}

void VerifiedManifestMemory::Remember(std::shared_ptr<const Pair> pair) {
  std::shared_ptr<const Pair> previous;
  {
    const std::lock_guard<std::mutex> lock(mutex_);
    previous = std::exchange(last_, std::move(pair));
  }
  // The old pair (a whole release's records) is freed outside the lock.
}

std::shared_ptr<const Manifest> FetchVerifiedManifest(std::wstring_view baseUrl, std::wstring_view failureMessage,
                                                      VerifiedManifestMemory& memory, void* stop) {
  // The signature file is the release's fingerprint: it verifies for exactly
  // one manifest, so the same bytes mean the same release, on any static
  // server, without relying on ETag or Last-Modified (which some servers
  // send for a republished file unchanged, and some send not at all).
  const std::wstring base(baseUrl);
  std::vector<std::uint8_t> signatureFile =
      FetchBody(base + L"/" + std::wstring(SignaturePathWide), kMaxSignatureFileBytes, stop);
  if (auto last = memory.Last(); last && last->baseUrl == base && last->signatureFile == signatureFile) {
    return std::shared_ptr<const Manifest>(last, &last->manifest);
  }
  // The signature file is read before the manifest is asked for, and the
  // manifest is parsed only once its signature holds, so the parser never
  // sees unsigned bytes.
  const std::vector<std::uint8_t> signature = ParseSignatureFile(signatureFile);
  const std::vector<std::uint8_t> manifest =
      FetchBody(base + L"/" + std::wstring(ManifestPathWide), kMaxManifestBytes, stop);
  if (!VerifyManifestSignature(manifest, signature)) throw LauncherError{std::wstring(failureMessage)};
  auto pair = std::make_shared<const VerifiedManifestMemory::Pair>(
      VerifiedManifestMemory::Pair{base, std::move(signatureFile), ParseManifest(manifest)});
  memory.Remember(pair);
  return std::shared_ptr<const Manifest>(pair, &pair->manifest);
}

std::shared_ptr<const Manifest> FetchVerifiedManifest(std::wstring_view baseUrl, std::wstring_view failureMessage) {
  VerifiedManifestMemory fresh;
  return FetchVerifiedManifest(baseUrl, failureMessage, fresh);
}

}  // namespace launcher
