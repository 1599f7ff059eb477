#include "engine/verified_manifest.h"

#include <string>
#include <vector>

#include "core/manifest.h"
#include "core/release_layout.h"
#include "core/signature_file.h"
#include "release/signature.h"
#include "transfer/body_fetch.h"

namespace launcher {

Manifest FetchVerifiedManifest(std::wstring_view baseUrl, std::wstring_view failureMessage) {
  // Both files arrive before either is looked at; the manifest is parsed
  // only once its signature holds, so the parser never sees unsigned bytes.
  const std::wstring base = std::wstring(baseUrl) + L"/";
  const std::vector<std::uint8_t> manifest = FetchBody(base + std::wstring(ManifestPathWide));
  const std::vector<std::uint8_t> signatureFile = FetchBody(base + std::wstring(SignaturePathWide));
  const std::vector<std::uint8_t> signature = ParseSignatureFile(signatureFile);
  if (!VerifyManifestSignature(manifest, signature)) throw LauncherError{std::wstring(failureMessage)};
  return ParseManifest(manifest);
}

}  // namespace launcher
