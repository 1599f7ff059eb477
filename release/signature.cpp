#include "release/signature.h"

#include <windows.h>

#include <bcrypt.h>

#include <array>

#include "core/records.h"
#include "core/signature_file.h"
#include "release/cng_handles.h"
#include "release/release_config.h"
#include "release/sha256.h"

namespace launcher {
namespace {

constexpr std::size_t kPublicBlobBytes = 72;

// The release public key as CNG's ECCPUBLICBLOB: magic "ECS1" and the key
// length 32, both little-endian 32-bit, then X and Y, most significant byte
// first.
std::array<std::uint8_t, kPublicBlobBytes> ReleasePublicKeyBlob() {
  std::array<std::uint8_t, kPublicBlobBytes> blob{};
  const std::uint32_t header[2] = {BCRYPT_ECDSA_PUBLIC_P256_MAGIC, 32};
  for (int field = 0; field < 2; ++field) {
    for (int i = 0; i < 4; ++i) blob[field * 4 + i] = static_cast<std::uint8_t>(header[field] >> (8 * i));
  }
  std::copy(ReleasePublicKeyX.begin(), ReleasePublicKeyX.end(), blob.begin() + 8);
  std::copy(ReleasePublicKeyY.begin(), ReleasePublicKeyY.end(), blob.begin() + 40);
  return blob;
}

}  // namespace

bool VerifyManifestSignature(std::span<const std::uint8_t> manifest, std::span<const std::uint8_t> signature) {
  if (signature.size() != kSignatureBytes) return false;

  // Declared in this order, the holders release the hash and its provider
  // first, then the key, then the ECDSA provider.
  AlgorithmHandle ecdsa;
  if (const NTSTATUS status = BCryptOpenAlgorithmProvider(ecdsa.put(), BCRYPT_ECDSA_P256_ALGORITHM, nullptr, 0);
      status < 0) {
    throw LauncherError{L"The launcher could not open a cryptography provider.", static_cast<std::uint32_t>(status)};
  }
  std::array<std::uint8_t, kPublicBlobBytes> blob = ReleasePublicKeyBlob();
  KeyHandle key;
  if (BCryptImportKeyPair(ecdsa.get(), nullptr, BCRYPT_ECCPUBLIC_BLOB, key.put(), blob.data(),
                          static_cast<ULONG>(blob.size()), 0) < 0) {
    return false;
  }

  Sha256Hash hash;
  hash.Update(manifest);
  std::array<std::uint8_t, 32> digest = hash.Finish();

  // Only STATUS_SUCCESS counts: a signature check grants nothing on a
  // status that is merely not an error.
  return BCryptVerifySignature(key.get(), nullptr, digest.data(), static_cast<ULONG>(digest.size()),
                               const_cast<PUCHAR>(signature.data()), static_cast<ULONG>(signature.size()), 0) == 0;
}

}  // namespace launcher
