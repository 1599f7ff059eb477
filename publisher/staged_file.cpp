#include "publisher/staged_file.h"

#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <cstring>
#include <string>
#include <system_error>

#include "core/text.h"
#include "publisher/publish_error.h"

namespace publisher {
namespace {

constexpr std::string_view kTempMark = ".tmp-";

std::string Reason(int error) { return std::strerror(error); }

// Flushes `folder` with `sync` (fsync or syncfs) through a descriptor of it.
void SyncThrough(const std::filesystem::path& folder, int (*sync)(int)) {
  const Descriptor fd(::open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
  if (!fd) throw PublishError("Cannot open " + folder.string() + ": " + Reason(errno));
  if (sync(fd.get()) != 0) throw PublishError("Cannot flush " + folder.string() + ": " + Reason(errno));
}

}  // namespace

StagedFile::StagedFile(std::filesystem::path target) : target_(std::move(target)) {
  static std::atomic<unsigned> counter{0};
  // A leading dot keeps it out of sight; pid and counter keep two writers
  // (or a crashed earlier run) from ever sharing a name.
  // Appended piece by piece: GCC 12 warns, wrongly, about overlapping
  // copies in "." + std::string&& at -O2.
  std::string name = ".";
  name += target_.filename().string();
  name += kTempMark;
  name += std::to_string(::getpid()) + "-" + std::to_string(counter++);
  temp_ = target_.parent_path() / name;
  fd_.reset(::open(temp_.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0644));
  if (!fd_) throw PublishError("Cannot create " + temp_.string() + ": " + Reason(errno));
  ::fchmod(fd_.get(), 0644);  // whatever the umask: the web server must read it
}

StagedFile::~StagedFile() {
  fd_.reset();
  if (!committed_) ::unlink(temp_.c_str());
}

void StagedFile::Write(std::span<const std::uint8_t> bytes) {
  std::size_t written = 0;
  while (written < bytes.size()) {
    const ssize_t n = ::write(fd_.get(), bytes.data() + written, bytes.size() - written);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) throw PublishError("Cannot write " + temp_.string() + ": " + Reason(n < 0 ? errno : ENOSPC));
    written += static_cast<std::size_t>(n);
  }
}

void StagedFile::Commit(Flush flush) { CommitAs(target_, flush); }

void StagedFile::CommitAs(const std::filesystem::path& target, Flush flush) {
  if (flush == Flush::Now && ::fsync(fd_.get()) != 0)
    throw PublishError("Cannot write " + temp_.string() + ": " + Reason(errno));
  if (::close(fd_.release()) != 0) throw PublishError("Cannot write " + temp_.string() + ": " + Reason(errno));
  if (::rename(temp_.c_str(), target.c_str()) != 0) {
    throw PublishError("Cannot put " + target.string() + " in place: " + Reason(errno));
  }
  committed_ = true;
}

void WriteFileAtomically(const std::filesystem::path& target, std::string_view bytes) {
  StagedFile file(target);
  file.Write(launcher::AsBytes(bytes));
  file.Commit();
}

bool IsStagedTempName(std::string_view fileName) {
  return fileName.starts_with('.') && fileName.find(kTempMark) != std::string_view::npos;
}

void SyncFolder(const std::filesystem::path& folder) { SyncThrough(folder, ::fsync); }

void SyncFileSystem(const std::filesystem::path& folder) { SyncThrough(folder, ::syncfs); }

void MakeFolders(const std::filesystem::path& folder) {
  if (folder.empty()) return;
  std::error_code error;
  if (std::filesystem::is_directory(folder, error)) return;
  MakeFolders(folder.parent_path());
  if (::mkdir(folder.c_str(), 0755) == 0) {
    ::chmod(folder.c_str(), 0755);  // whatever the umask: the web server must read it
  } else if (errno != EEXIST) {
    throw PublishError("Cannot create the folder " + folder.string() + ": " + Reason(errno));
  }
  if (!std::filesystem::is_directory(folder, error)) throw PublishError(folder.string() + " is not a folder");
}

TreeLock::TreeLock(const std::filesystem::path& tree) {
  const std::filesystem::path file = tree / ".publisher.lock";
  fd_.reset(::open(file.c_str(), O_RDWR | O_CREAT | O_CLOEXEC, 0644));
  if (!fd_) throw PublishError("Cannot create " + file.string() + ": " + Reason(errno));
  if (::flock(fd_.get(), LOCK_EX | LOCK_NB) != 0) {
    throw PublishError("Another publisher is writing to " + tree.string() + "; try again when it is done");
  }
}

}  // namespace publisher
