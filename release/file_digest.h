// The SHA-256 of a file on disk, as the manifest writes digests.
#pragma once

#include <string>
#include <string_view>

namespace launcher {

// Streams the file through CNG SHA-256 in 65,536-byte chunks and returns 64
// lowercase hex characters. Other processes may go on reading and writing the
// file meanwhile. A read error ends the stream early; the digest of what was
// read then will not match any release, so the caller treats the file as
// changed.
//
// Throws LauncherError "Could not read <last component>." when the file
// cannot be opened (missing, a folder, locked, no access), and the hash
// messages of Sha256Hash.
std::string FileSha256(std::wstring_view path);

}  // namespace launcher
