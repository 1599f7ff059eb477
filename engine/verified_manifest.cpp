#include "engine/verified_manifest.h"

#include <windows.h>

#include <string>
#include <utility>
#include <vector>

#include "core/manifest.h"
#include "core/release_layout.h"
#include "core/signature_file.h"
#include "files/trace.h"
#include "release/signature.h"
#include "transfer/body_fetch.h"
#include "transfer/http_request.h"

namespace launcher {
namespace {

// A publish writes the manifest and the signature last, a moment apart, and
// a cache in front of the server can hold one of them from before and the
// other from after for as long as it takes to ask the server again: a torn
// read. The pair is asked for once more after this pause: seconds rather
// than a probe interval, so that a player starting the launcher in that
// moment still gets Play; a cache that stays torn longer is met by the next
// probe.
constexpr DWORD kTornReadPauseMs = 2000;

// The pause, ended early by `stop`.
void PauseBeforeAskingAgain(void* stop) {
  if (!stop) {
    Sleep(kTornReadPauseMs);
  } else if (WaitForSingleObject(stop, kTornReadPauseMs) == WAIT_OBJECT_0) {
    throw TransferStopped{};
  }
}

// Parses the verified manifest and remembers it with its signature file.
std::shared_ptr<const Manifest> RememberVerified(VerifiedManifestMemory& memory, const std::wstring& base,
                                                 std::vector<std::uint8_t> signatureFile,
                                                 const std::vector<std::uint8_t>& manifest) {
  auto pair = std::make_shared<const VerifiedManifestMemory::Pair>(
      VerifiedManifestMemory::Pair{base, std::move(signatureFile), ParseManifest(manifest)});
  memory.Remember(pair);
  return std::shared_ptr<const Manifest>(pair, &pair->manifest);
}

}  // namespace

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
  for (int attempt = 1;; ++attempt) {
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
    if (VerifyManifestSignature(manifest, signature)) {
      return RememberVerified(memory, base, std::move(signatureFile), manifest);
    }
    if (attempt == 2) throw LauncherError{std::wstring(failureMessage)};
    Trace(L"the release's signature did not verify its manifest; both are asked for again");
    PauseBeforeAskingAgain(stop);
  }
}

std::shared_ptr<const Manifest> FetchVerifiedManifest(std::wstring_view baseUrl, std::wstring_view failureMessage) {
  VerifiedManifestMemory fresh;
  return FetchVerifiedManifest(baseUrl, failureMessage, fresh);
}

}  // namespace launcher
