// The release manifest's ECDSA P-256 signature, and the one way the check and
// the probe obtain a manifest: fetch both files, verify, only then parse.
#pragma once

#include <cstdint>
#include <span>
#include <string_view>

#include "release/records.h"

namespace launcher {

// True when `signature` (64 bytes, r then s) is valid for `manifest` under
// the built-in release public key. False for another length or a key that
// cannot be imported. Throws only when CNG cannot be used.
bool VerifyManifestSignature(std::span<const std::uint8_t> manifest, std::span<const std::uint8_t> signature);

// Fetches baseUrl + "/latest/manifest.txt" and "/latest/manifest.sig", parses
// the signature file, verifies, and parses the manifest, in that order.
// Throws `failureMessage` when the signature does not verify, and the
// messages of the transfer, signature file and manifest parser otherwise.
Manifest FetchVerifiedManifest(std::wstring_view baseUrl, std::wstring_view failureMessage);

}  // namespace launcher
