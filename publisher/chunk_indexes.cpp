#include "publisher/chunk_indexes.h"

#include <cerrno>
#include <cstring>
#include <fstream>

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

}  // namespace

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
  const launcher::ChunkIndex index{file.sha256, file.size, launcher::kChunkRule, chunked.chunks};
  StagedFile staged(IndexFile(objects, file.sha256));
  const std::string text = launcher::ChunkIndexText(index);
  staged.Write(std::span(reinterpret_cast<const std::uint8_t*>(text.data()), text.size()));
  staged.Commit(StagedFile::Flush::Later);
  return ChunkIndexOutcome::Written;
}

}  // namespace publisher
