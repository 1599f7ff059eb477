#include "publisher/game_folder.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <string_view>

#include "core/install_layout.h"
#include "core/text.h"
#include "publisher/install_names.h"
#include "publisher/publish_error.h"

namespace publisher {
namespace {

namespace fs = std::filesystem;

constexpr std::size_t kChunkBytes = 1 << 20;

// What the launcher keeps beside the game folder, never inside it.
bool IsLauncherOwnName(const std::string& name) {
  const std::string lowered = launcher::LowerAscii(name);
  return lowered == "stonewake launcher.exe" || lowered == "stonewake launcher.old";
}

[[noreturn]] void NoLongerThere(const PlannedFile& file) {
  throw PublishError(file.source.string() +
                     " is no longer the regular file the walk of the game folder found (a link, a special file or "
                     "gone now); publish again when nothing changes the game folder");
}

bool SameContentAs(const struct stat& a, const struct stat& b) {
  return a.st_size == b.st_size && a.st_mtim.tv_sec == b.st_mtim.tv_sec && a.st_mtim.tv_nsec == b.st_mtim.tv_nsec;
}

}  // namespace

// Links are refused because the launcher writes plain files.
std::vector<PlannedFile> WalkGameFolder(const fs::path& folder, std::vector<std::string>& problems) {
  std::vector<PlannedFile> files;
  std::error_code error;
  fs::recursive_directory_iterator it(folder, error);
  if (error) throw PublishError("Cannot read the game folder " + folder.string() + ": " + error.message());
  for (; it != fs::recursive_directory_iterator(); it.increment(error)) {
    if (error) break;
    const fs::path relative = it->path().lexically_relative(folder);
    const std::string path = std::string(launcher::kGamePathPrefix) + relative.generic_string();
    const fs::file_status status = it->symlink_status(error);
    if (error) throw PublishError("Cannot read " + it->path().string() + ": " + error.message());
    if (fs::is_directory(status)) continue;
    if (fs::is_symlink(status)) {
      const bool toFolder = fs::is_directory(fs::status(it->path(), error));
      problems.push_back(Printable(path) +
                         ": a symbolic link; a release carries only regular files and players' "
                         "launchers write plain files. Replace the link with a copy of the " +
                         (toFolder ? "folder" : "file") + " it points to (" +
                         (toFolder ? "rm LINK && cp -r TARGET LINK" : "cp --remove-destination TARGET LINK") + ")");
    } else if (!fs::is_regular_file(status)) {
      problems.push_back(Printable(path) +
                         ": a special file (device, pipe or socket); a release carries only regular files");
    } else {
      const std::uint64_t size = it->file_size(error);
      if (error) throw PublishError("Cannot read " + it->path().string() + ": " + error.message());
      if (!relative.has_parent_path() && IsLauncherOwnName(relative.string())) {
        problems.push_back(Printable(path) +
                           ": the launcher's own file in the game folder; this looks like an install folder. "
                           "Pass the game folder itself, and the launcher with --launcher");
      }
      files.push_back({path, it->path(), size, {}});
    }
  }
  if (error) throw PublishError("Cannot read the game folder " + folder.string() + ": " + error.message());
  return files;
}

// Opens a planned file for its one read. Below the game folder no step may
// be a link: each folder on the way is opened relative to the one before
// without following one, and so is the file. O_NONBLOCK keeps a pipe put in
// its place from holding the open until a writer comes. The launcher was
// named by the studio and may be a link.
Descriptor OpenPlannedFile(const fs::path& gameFolder, const PlannedFile& file) {
  constexpr int kFileFlags = O_RDONLY | O_NONBLOCK | O_CLOEXEC;
  Descriptor in;
  if (!file.path.starts_with(launcher::kGamePathPrefix)) {
    in.reset(::open(file.source.c_str(), kFileFlags));
  } else {
    Descriptor folder(::open(gameFolder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
    if (!folder) throw PublishError("Cannot open the game folder " + gameFolder.string() + ": " + std::strerror(errno));
    std::string_view rest = std::string_view(file.path).substr(5);
    for (std::size_t slash; (slash = rest.find('/')) != std::string_view::npos; rest.remove_prefix(slash + 1)) {
      folder.reset(::openat(folder.get(), std::string(rest.substr(0, slash)).c_str(),
                            O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC));
      if (!folder) NoLongerThere(file);
    }
    in.reset(::openat(folder.get(), std::string(rest).c_str(), kFileFlags | O_NOFOLLOW));
  }
  struct stat status {};
  if (!in || ::fstat(in.get(), &status) != 0 || !S_ISREG(status.st_mode)) NoLongerThere(file);
  return in;
}

[[noreturn]] void ChangedWhilePublished(const PlannedFile& file) {
  throw PublishError(file.source.string() +
                     " changed while it was being published; publish again when nothing writes "
                     "to the game folder");
}

FileDigest ReadOpenFile(const Descriptor& in, const PlannedFile& file,
                        const std::function<void(std::span<const std::uint8_t>)>& sink) {
  struct stat before {};
  ::fstat(in.get(), &before);
  Sha256 hash;
  // Sized by the file as the walk saw it (a file that grew meanwhile is
  // still read whole, in more reads): a buffer of the whole chunk, zeroed
  // for every small file, was most of the publisher's work on a game of
  // many small files.
  std::vector<std::uint8_t> buffer(
      static_cast<std::size_t>(std::clamp<std::uint64_t>(file.size + 1, 4096, kChunkBytes)));
  std::string head;  // the first bytes, to check the launcher's
  FileDigest digest;
  for (;;) {
    const ssize_t n = ::pread(in.get(), buffer.data(), buffer.size(), static_cast<off_t>(digest.size));
    if (n < 0 && errno == EINTR) continue;
    if (n < 0) throw PublishError("Cannot read " + file.source.string() + ": " + std::strerror(errno));
    if (n == 0) break;
    const std::span<const std::uint8_t> chunk(buffer.data(), static_cast<std::size_t>(n));
    hash.Update(chunk);
    sink(chunk);
    if (head.size() < 2)
      head.append(reinterpret_cast<const char*>(chunk.data()), std::min<std::size_t>(2, chunk.size()));
    digest.size += static_cast<std::uint64_t>(n);
  }
  digest.sha256 = hash.Finish();
  struct stat after {};
  // A file written to meanwhile may have been read half old, half new.
  if (::fstat(in.get(), &after) != 0 || !SameContentAs(before, after)) ChangedWhilePublished(file);
  if (!file.checkedSha256.empty() && digest.sha256 != file.checkedSha256) ChangedWhilePublished(file);
  if (file.path == launcher::LauncherFileName && !head.starts_with("MZ")) {
    throw PublishError(file.source.string() + ": the launcher is not a Windows executable");
  }
  return digest;
}

FileDigest ReadPlannedFile(const fs::path& gameFolder, const PlannedFile& file,
                           const std::function<void(std::span<const std::uint8_t>)>& sink) {
  return ReadOpenFile(OpenPlannedFile(gameFolder, file), file, sink);
}

}  // namespace publisher
