// Files that appear under their final name only once complete: written
// beside their place under a hidden temporary name, flushed, then renamed in.
// A web server serving the folder meanwhile sees the old file or the new one,
// never a part of one.
#pragma once

#include <unistd.h>

#include <cstdint>
#include <filesystem>
#include <span>
#include <string_view>

#include "core/unique_handle.h"

namespace publisher {

inline void CloseDescriptor(int fd) { ::close(fd); }
struct NoDescriptor {
  static int Get() noexcept { return -1; }
};
// Owner of one file descriptor, closed when the owner goes; move-only.
using Descriptor = launcher::UniqueHandle<int, &CloseDescriptor, NoDescriptor>;

class StagedFile {
 public:
  // Creates the temporary file (mode 0644, so any web server can read what
  // it becomes) in the target's folder. Throws PublishError.
  explicit StagedFile(std::filesystem::path target);
  // Removes the temporary file unless it was committed.
  ~StagedFile();
  StagedFile(const StagedFile&) = delete;
  StagedFile& operator=(const StagedFile&) = delete;

  void Write(std::span<const std::uint8_t> bytes);
  enum class Flush { Now, Later };
  // Renames onto the target, replacing a file there. Flush::Now first puts
  // the content on disk; Flush::Later leaves that to one SyncFileSystem for
  // many files (one flush per file costs milliseconds each).
  void Commit(Flush flush = Flush::Now);
  // The same onto `target`, a name in the same folder chosen once the
  // content is known (an object is named by its digest).
  void CommitAs(const std::filesystem::path& target, Flush flush = Flush::Now);

 private:
  std::filesystem::path target_;
  std::filesystem::path temp_;
  Descriptor fd_;
  bool committed_ = false;
};

// Writes `bytes` as the whole of `target` through a StagedFile.
void WriteFileAtomically(const std::filesystem::path& target, std::string_view bytes);

// True for the temporary names StagedFile uses.
bool IsStagedTempName(std::string_view fileName);

// Flushes a folder's entries (the renames into it) to disk.
void SyncFolder(const std::filesystem::path& folder);

// Flushes everything written to the file system that holds `folder`.
void SyncFileSystem(const std::filesystem::path& folder);

// Creates `folder` and its parents as needed; those it creates get mode 0755.
void MakeFolders(const std::filesystem::path& folder);

// An exclusive lock on a publishing tree, held while this object lives.
// Throws when another publisher holds it.
class TreeLock {
 public:
  explicit TreeLock(const std::filesystem::path& tree);

 private:
  Descriptor fd_;
};

}  // namespace publisher
