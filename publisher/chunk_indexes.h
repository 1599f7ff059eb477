// Chunk indexes in the release tree: "objects/<sha256>.chunks" beside every
// object of launcher::kChunkIndexFromBytes or more (core/chunk_index.h).
// The manifest never lists them, so launchers that do not know them never
// see them, and a tree keeps working for every launcher.
#pragma once

#include <cstdint>
#include <filesystem>
#include <functional>
#include <memory>
#include <span>
#include <string>
#include <vector>

#include "core/chunk_index.h"
#include "core/records.h"
#include "publisher/crypto.h"

namespace publisher {

// The file's size and chunks under `rule`, and with `whole` its digest too,
// from one read. `read` is told the bytes read so far now and then. Throws
// PublishError when the file cannot be read.
struct ChunkedFile {
  FileDigest digest;  // sha256 empty without `whole`
  std::vector<launcher::Chunk> chunks;
};
enum class WholeDigest { No, Yes };
ChunkedFile ChunkFile(const std::filesystem::path& file, const launcher::ChunkRule& rule, WholeDigest whole,
                      const std::function<void(std::uint64_t)>& read = {});

// Chunks a stream on a thread of its own while the caller reads it for
// something else (the object's copy and digest), so that on a machine of
// two cores an index costs about no time of its own. Add copies each block
// and waits while 16 MiB are queued, so memory stays flat. A chunker that is
// destroyed unfinished stops its thread.
class BackgroundChunker {
 public:
  explicit BackgroundChunker(const launcher::ChunkRule& rule);
  ~BackgroundChunker();
  BackgroundChunker(const BackgroundChunker&) = delete;
  BackgroundChunker& operator=(const BackgroundChunker&) = delete;

  void Add(std::span<const std::uint8_t> block);
  // The chunks of everything added. Throws PublishError when hashing failed.
  std::vector<launcher::Chunk> Finish();

 private:
  struct State;
  std::unique_ptr<State> state_;
};

// Writes `chunks` as the index of objects/<sha256> beside it under a
// temporary name, renamed in, flushed with the objects (SyncFileSystem).
void WriteChunkIndex(const std::filesystem::path& objects, const std::string& sha256, std::uint64_t size,
                     const launcher::ChunkRule& rule, std::vector<launcher::Chunk> chunks);

// True for objects that get an index.
bool WantsChunkIndex(std::uint64_t objectSize);

// The index of objects/<sha256> on disk, read with the launcher's ceiling
// and parser. `refusal` tells why there is none ("missing" when the file is
// not there).
launcher::ParsedChunkIndex ReadChunkIndex(const std::filesystem::path& objects, const std::string& sha256,
                                          std::uint64_t size);

enum class ChunkIndexOutcome { Written, Kept };

// Makes sure objects/<sha256>.chunks describes the object `file` names,
// which must be in place. An index already there for that object is kept
// (whatever rule it names: it is right for that object, and a CDN may cache
// it as immutable); otherwise the object is read and its index written
// beside it under a temporary name and renamed in, to be flushed with the
// objects (SyncFileSystem) before the manifest. Throws PublishError.
ChunkIndexOutcome PlaceChunkIndex(const std::filesystem::path& objects, const launcher::ManifestFile& file,
                                  const std::function<void(std::uint64_t)>& read = {});

}  // namespace publisher
