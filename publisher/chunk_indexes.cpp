#include "publisher/chunk_indexes.h"

#include <cerrno>
#include <condition_variable>
#include <cstring>
#include <deque>
#include <exception>
#include <fstream>
#include <mutex>
#include <thread>

#include "core/release_layout.h"
#include "publisher/publish_error.h"
#include "publisher/release_tree.h"
#include "publisher/staged_file.h"

namespace publisher {
namespace {

namespace fs = std::filesystem;

// Reads of 1 MiB: the chunker and both hashes run at memory speed over them.
constexpr std::size_t kReadBytes = 1 << 20;
// How often `read` hears of progress.
constexpr std::uint64_t kReportEvery = 64 << 20;

class ChunkSha256 : public launcher::ChunkHasher {
 public:
  void Add(std::span<const std::uint8_t> bytes) override { hash_.Update(bytes); }
  launcher::Sha256Digest Finish() override { return hash_.FinishBytes(); }

 private:
  Sha256 hash_;
};

fs::path IndexFile(const fs::path& objects, const std::string& sha256) {
  return objects / (sha256 + std::string(".chunks"));
}

// Blocks queued for the chunker's thread at most.
constexpr std::size_t kMostQueuedBytes = 16 << 20;

}  // namespace

struct BackgroundChunker::State {
  explicit State(const launcher::ChunkRule& rule) : splitter(rule, hasher) {}

  ChunkSha256 hasher;
  launcher::ChunkSplitter splitter;
  std::mutex mutex;
  std::condition_variable changed;
  std::deque<std::vector<std::uint8_t>> queue;
  std::size_t queuedBytes = 0;
  bool ended = false;    // no more blocks will come
  bool stopped = false;  // the result is not wanted
  std::exception_ptr failure;
  std::thread thread;

  void Run() {
    for (;;) {
      std::vector<std::uint8_t> block;
      {
        std::unique_lock lock(mutex);
        changed.wait(lock, [&] { return stopped || !queue.empty() || ended; });
        if (stopped || queue.empty()) return;
        block = std::move(queue.front());
        queue.pop_front();
      }
      try {
        splitter.Add(block);
      } catch (...) {
        std::lock_guard lock(mutex);
        failure = std::current_exception();
        stopped = true;
      }
      std::lock_guard lock(mutex);
      queuedBytes -= block.size();
      changed.notify_all();
    }
  }
};

BackgroundChunker::BackgroundChunker(const launcher::ChunkRule& rule) : state_(std::make_unique<State>(rule)) {
  state_->thread = std::thread([state = state_.get()] { state->Run(); });
}

BackgroundChunker::~BackgroundChunker() {
  {
    std::lock_guard lock(state_->mutex);
    state_->stopped = true;
  }
  state_->changed.notify_all();
  if (state_->thread.joinable()) state_->thread.join();
}

void BackgroundChunker::Add(std::span<const std::uint8_t> block) {
  std::unique_lock lock(state_->mutex);
  state_->changed.wait(lock, [&] { return state_->stopped || state_->queuedBytes < kMostQueuedBytes; });
  if (state_->stopped) return;  // Finish reports the failure
  state_->queue.emplace_back(block.begin(), block.end());
  state_->queuedBytes += block.size();
  state_->changed.notify_all();
}

std::vector<launcher::Chunk> BackgroundChunker::Finish() {
  {
    std::lock_guard lock(state_->mutex);
    state_->ended = true;
  }
  state_->changed.notify_all();
  state_->thread.join();
  if (state_->failure) std::rethrow_exception(state_->failure);
  return state_->splitter.Finish();
}

void WriteChunkIndex(const fs::path& objects, const std::string& sha256, std::uint64_t size,
                     const launcher::ChunkRule& rule, std::vector<launcher::Chunk> chunks) {
  const launcher::ChunkIndex index{sha256, size, rule, std::move(chunks)};
  StagedFile staged(IndexFile(objects, sha256));
  const std::string text = launcher::ChunkIndexText(index);
  staged.Write(std::span(reinterpret_cast<const std::uint8_t*>(text.data()), text.size()));
  staged.Commit(StagedFile::Flush::Later);
}

ChunkedFile ChunkFile(const fs::path& file, const launcher::ChunkRule& rule, WholeDigest whole,
                      const std::function<void(std::uint64_t)>& read) {
  std::ifstream in(file, std::ios::binary);
  if (!in) throw PublishError("Cannot open " + file.string() + ": " + std::strerror(errno));
  Sha256 wholeHash;
  ChunkSha256 chunkHash;
  launcher::ChunkSplitter splitter(rule, chunkHash);
  std::vector<std::uint8_t> buffer(kReadBytes);
  std::uint64_t reported = 0;
  while (in) {
    in.read(reinterpret_cast<char*>(buffer.data()), static_cast<std::streamsize>(buffer.size()));
    const std::span<const std::uint8_t> block(buffer.data(), static_cast<std::size_t>(in.gcount()));
    if (whole == WholeDigest::Yes) wholeHash.Update(block);
    splitter.Add(block);
    if (read && splitter.Size() - reported >= kReportEvery) {
      reported = splitter.Size();
      read(reported);
    }
  }
  if (in.bad()) throw PublishError("Cannot read " + file.string());
  ChunkedFile result;
  result.digest.size = splitter.Size();
  if (whole == WholeDigest::Yes) result.digest.sha256 = wholeHash.Finish();
  result.chunks = splitter.Finish();
  return result;
}

bool WantsChunkIndex(std::uint64_t objectSize) { return objectSize >= launcher::kChunkIndexFromBytes; }

launcher::ParsedChunkIndex ReadChunkIndex(const fs::path& objects, const std::string& sha256, std::uint64_t size) {
  const fs::path file = IndexFile(objects, sha256);
  std::error_code error;
  if (!fs::is_regular_file(fs::symlink_status(file, error))) return {std::nullopt, {0, "missing"}};
  const std::optional<std::string> text =
      ReadAtMost(file, static_cast<std::size_t>(launcher::MaxChunkIndexBytes(size)));
  if (!text) return {std::nullopt, {0, "cannot be read"}};
  return launcher::ParseChunkIndex(std::span(reinterpret_cast<const std::uint8_t*>(text->data()), text->size()), sha256,
                                   size);
}

ChunkIndexOutcome PlaceChunkIndex(const fs::path& objects, const launcher::ManifestFile& file,
                                  const std::function<void(std::uint64_t)>& read) {
  if (ReadChunkIndex(objects, file.sha256, file.size).index) return ChunkIndexOutcome::Kept;
  // The object was just written or checked, so its digest is not taken
  // again (a third of the time of making an index); `publisher verify`
  // checks index and object together.
  const ChunkedFile chunked = ChunkFile(objects / file.sha256, launcher::kChunkRule, WholeDigest::No, read);
  if (chunked.digest.size != file.size) {
    throw PublishError(std::string(launcher::ObjectPathPrefix) + file.sha256 +
                       " changed while its chunk index was made; nothing was published");
  }
  WriteChunkIndex(objects, file.sha256, file.size, launcher::kChunkRule, chunked.chunks);
  return ChunkIndexOutcome::Written;
}

}  // namespace publisher
