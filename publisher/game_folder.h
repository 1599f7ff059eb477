// The game folder a release is made from: the walk that plans its files,
// and the one read of each planned file that follows, which refuses a file
// that changed, or turned into a link or a special file, since the walk.
#pragma once

#include <cstdint>
#include <filesystem>
#include <functional>
#include <span>
#include <string>
#include <vector>

#include "publisher/crypto.h"
#include "publisher/staged_file.h"

namespace publisher {

// One file a release will carry, as the walk of the game folder found it.
struct PlannedFile {
  std::string path;              // as it will appear in the manifest
  std::filesystem::path source;  // where it is read from
  std::uint64_t size = 0;        // as the walk saw it; the read measures it again
  // The launcher's digest when its trust was checked: the file published
  // must be the one checked. Empty for game files.
  std::string checkedSha256;
};

// Every regular file under `folder`, as "game/<relative path>", in the
// order the file system lists them. Anything else a player's install could
// not reproduce (links, devices, pipes, sockets) and the launcher's own
// files at the top are appended to `problems`. Throws PublishError when the
// folder cannot be read.
std::vector<PlannedFile> WalkGameFolder(const std::filesystem::path& folder, std::vector<std::string>& problems);

// Opens a planned file for its one read (see the definition for how links
// are refused). Throws PublishError.
Descriptor OpenPlannedFile(const std::filesystem::path& gameFolder, const PlannedFile& file);

// Reads an opened planned file from its first byte, handing each chunk to
// `sink`, and returns its digest. Refuses a file written to meanwhile and a
// launcher that is not a Windows executable. Reads by offset, so the same
// descriptor can be read again. Throws PublishError.
FileDigest ReadOpenFile(const Descriptor& in, const PlannedFile& file,
                        const std::function<void(std::span<const std::uint8_t>)>& sink);

// Opens a planned file and reads it once (ReadOpenFile).
FileDigest ReadPlannedFile(const std::filesystem::path& gameFolder, const PlannedFile& file,
                           const std::function<void(std::span<const std::uint8_t>)>& sink);

// Throws the PublishError of a file that changed while it was being
// published.
[[noreturn]] void ChangedWhilePublished(const PlannedFile& file);

}  // namespace publisher
