// The release manifest's grammar ("stonewake-manifest 1") and the rule for
// the paths it may name.
//
//   stonewake-manifest 1
//   version 1.4.2
//   commit 9f3c2e1
//   file <64 lowercase hex> <size> game/Stonewake.exe
//   end
#pragma once

#include <cstdint>
#include <span>
#include <string_view>

#include "release/records.h"

namespace launcher {

inline constexpr std::wstring_view kManifestUnreadable = L"The release information could not be read.";

// Parses the manifest's bytes. Throws LauncherError
// "The release information could not be read." on any rejection; no partial
// manifest escapes.
Manifest ParseManifest(std::span<const std::uint8_t> bytes);

// True when `path` may be named by a release: not empty, not starting with
// '/', no '\' or ':', only bytes 0x20-0x7F, no "..", and either exactly
// LauncherFileName or beginning with "game/".
bool IsManifestPathAllowed(std::string_view path);

}  // namespace launcher
