// What a publishing run tells its caller while it works: each object, the
// manifest and the signature as they are put in place, and warnings that do
// not stop the release.
#pragma once

#include <cstddef>
#include <cstdint>
#include <filesystem>
#include <functional>
#include <string>

#include "core/manifest.h"

namespace publisher {

struct PublishStep {
  // The chunk index steps count large objects and their bytes instead of
  // files: ChunkIndexReading comes now and then while an object is read.
  enum class Kind {
    ObjectKept,
    ObjectWritten,
    ChunkIndexReading,
    ChunkIndexKept,
    ChunkIndexWritten,
    Manifest,
    Signature
  };
  Kind kind;
  std::filesystem::path file;  // the file kept or put in place
  std::size_t filesDone = 0;
  std::size_t filesTotal = 0;
  std::uint64_t bytesDone = 0;
  std::uint64_t bytesTotal = 0;
};

struct PublishReport {
  std::function<void(const PublishStep&)> step;     // after each object, index, the manifest and the signature
  std::function<void(const std::string&)> warning;  // something to look at that does not stop the release
  // Once every object is in place, just before the manifest players will
  // see is written: the release the tree held when the tree lock was taken
  // (no version when there was none), which players are on now whatever
  // the plan read before the lock, then the new manifest and the size of
  // its text.
  std::function<void(const launcher::Manifest& published, const launcher::Manifest& next, std::size_t manifestBytes)>
      beforeManifest;
};

}  // namespace publisher
