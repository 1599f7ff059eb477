// The names of the release tree a server serves, shared by the launcher
// (which fetches them), the publisher (which writes and checks them) and the
// tests' release servers:
//
//   latest/manifest.txt   the release's manifest
//   latest/manifest.sig   its signature (core/signature_file.h)
//   objects/<sha256>      each file's bytes, named by their digest
//
// Paths are relative to the tree's root, '/' separated; a URL is the base
// URL, "/" and the path.
#pragma once

#include <string_view>

namespace launcher {

inline constexpr std::string_view LatestFolderName = "latest";
inline constexpr std::string_view ManifestFileName = "manifest.txt";
inline constexpr std::string_view SignatureFileName = "manifest.sig";
inline constexpr std::string_view ObjectsFolderName = "objects";

inline constexpr std::string_view ManifestPath = "latest/manifest.txt";
inline constexpr std::string_view SignaturePath = "latest/manifest.sig";
// An object's path is this prefix and its 64 lowercase hex digits.
inline constexpr std::string_view ObjectPathPrefix = "objects/";

inline constexpr std::wstring_view ManifestPathWide = L"latest/manifest.txt";
inline constexpr std::wstring_view SignaturePathWide = L"latest/manifest.sig";
inline constexpr std::wstring_view ObjectPathPrefixWide = L"objects/";

}  // namespace launcher
