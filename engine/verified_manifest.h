// The one way the check and the probe obtain a release manifest: fetch it
// and its signature, verify, only then parse.
#pragma once

#include <string_view>

#include "core/records.h"

namespace launcher {

// Fetches baseUrl + "/latest/manifest.txt" and "/latest/manifest.sig", parses
// the signature file, verifies, and parses the manifest, in that order.
// Throws `failureMessage` when the signature does not verify, and the
// messages of the transfer, signature file and manifest parser otherwise.
Manifest FetchVerifiedManifest(std::wstring_view baseUrl, std::wstring_view failureMessage);

}  // namespace launcher
