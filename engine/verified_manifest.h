// The one way the check and the probe obtain a release manifest: the
// signature first, then (only when it changed) the manifest, verified before
// it is parsed.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <mutex>
#include <string>
#include <string_view>
#include <vector>

#include "core/manifest.h"
#include "core/records.h"

namespace launcher {

// The last signature file whose manifest verified, and that manifest,
// remembered in the process only (never on disk). Shared by the check, the
// probe and the pre-play probe, which may run on different threads at once:
// the pair is an immutable record swapped whole under a lock, so a reader
// holds either the old pair or the new one, never a mix.
class VerifiedManifestMemory {
 public:
  struct Pair {
    std::wstring baseUrl;
    std::vector<std::uint8_t> signatureFile;  // the file's bytes exactly as served
    Manifest manifest;                        // parsed after it verified against them
  };

  std::shared_ptr<const Pair> Last() const;
  void Remember(std::shared_ptr<const Pair> pair);

 private:
  mutable std::mutex mutex_;
  std::shared_ptr<const Pair> last_;
};

// Fetches baseUrl + "/latest/manifest.sig" (at most kMaxSignatureFileBytes).
// The manifest is fetched with kMaxManifestBytes as its ceiling.
// When its bytes equal those of `memory`'s pair for the same base URL, the
// remembered manifest is the answer: no manifest request, no parse, no
// cryptography. Otherwise parses the signature file, fetches
// "/latest/manifest.txt", verifies, parses the manifest, and only then
// remembers the new pair; a pair that fails never replaces the good one.
// A pair whose signature does not verify may be a cache's torn read during
// a publish (one file from before it, one from after): both are asked for
// once more after a pause of 2 seconds.
// Throws `failureMessage` when the signature still does not verify, and the
// messages of the transfer, signature file and manifest parser otherwise.
// With a `stop` event (a HANDLE), every request ends with TransferStopped
// once the event is set.
std::shared_ptr<const Manifest> FetchVerifiedManifest(std::wstring_view baseUrl, std::wstring_view failureMessage,
                                                      VerifiedManifestMemory& memory, void* stop = nullptr);

// The same with nothing remembered: both files are fetched.
std::shared_ptr<const Manifest> FetchVerifiedManifest(std::wstring_view baseUrl, std::wstring_view failureMessage);

}  // namespace launcher
