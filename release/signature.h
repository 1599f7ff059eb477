// The release manifest's ECDSA P-256 signature under the built-in key.
#pragma once

#include <cstdint>
#include <span>

namespace launcher {

// True when `signature` (64 bytes, r then s) is valid for `manifest` under
// the built-in release public key. False for another length or a key that
// cannot be imported. Throws only when CNG cannot be used.
bool VerifyManifestSignature(std::span<const std::uint8_t> manifest, std::span<const std::uint8_t> signature);

}  // namespace launcher
