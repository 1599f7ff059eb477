#include "engine/game_file_fetch.h"

#include <windows.h>

#include <algorithm>
#include <functional>
#include <iterator>
#include <optional>
#include <span>
#include <vector>

#include "core/assembly_plan.h"
#include "core/chunk_index.h"
#include "core/chunker.h"
#include "core/install_layout.h"
#include "core/paths.h"
#include "core/release_layout.h"
#include "core/text.h"
#include "files/file_handle.h"
#include "files/folder_walk.h"
#include "files/trace.h"
#include "release/chunk_hasher.h"
#include "release/file_digest.h"
#include "transfer/byte_range.h"
#include "transfer/request_completion.h"

namespace launcher {
namespace {

// The ranges of one assembly are asked one after another on the worker's
// kept connection, so every separate range costs a round trip: local bytes
// between two fetches are fetched again when that costs less. bench/resume.sh,
// 50 ms round trip at 3 MB/s (about 25 Mbit/s): one more request took
// 0.056 s, the time of 170 KB.
constexpr std::uint64_t kSequentialJoinGapBytes = 160 * 1024;

// Reads of the old file while it is chunked.
constexpr DWORD kReadBlockBytes = 1 << 20;

const wchar_t kNotThere[] = L"The release server did not have what the launcher asked for.";
const wchar_t kCutShort[] = L"The download was cut short. Check your internet connection and try again.";

// Thrown when the index or an answer cannot be built on: the assembly ends
// and the object is fetched whole. Carries the reason for the trace.
struct GiveUp {
  std::wstring why;
};

std::wstring PartialPath(const std::wstring& destination) { return destination + std::wstring(kPartialSuffixWide); }

std::wstring ObjectUrl(std::wstring_view baseUrl, std::string_view path) {
  return std::wstring(baseUrl) + L"/" + WidenAscii(std::string(path));
}

FileHandle OpenForReading(const std::wstring& path) {
  return FileHandle(CreateFileW(path.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                                nullptr, OPEN_EXISTING, FILE_FLAG_SEQUENTIAL_SCAN, nullptr));
}

// Reads exactly `bytes.size()` bytes at the file's position; false when the
// file ends or fails first.
bool ReadExactly(HANDLE file, std::span<std::uint8_t> bytes) {
  while (!bytes.empty()) {
    DWORD read = 0;
    const DWORD want = static_cast<DWORD>(std::min<std::size_t>(bytes.size(), kReadBlockBytes));
    if (!ReadFile(file, bytes.data(), want, &read, nullptr) || read == 0) return false;
    bytes = bytes.subspan(read);
  }
  return true;
}

bool Seek(HANDLE file, std::uint64_t offset) {
  LARGE_INTEGER at;
  at.QuadPart = static_cast<LONGLONG>(offset);
  return SetFilePointerEx(file, at, nullptr, FILE_BEGIN) != 0;
}

// The index of the object `sha256` of `size` bytes: nothing when the server
// has none (a tree published before indexes, an object below the size that
// gets one), a refusal when it cannot be used. A request that got no answer
// fails as the whole download would.
std::optional<ParsedChunkIndex> FetchIndex(HttpSession& session, std::wstring_view baseUrl, std::string_view sha256,
                                           std::uint64_t size) {
  HttpRequest request;
  try {
    request = session.Get(ObjectUrl(baseUrl, ChunkIndexPath(sha256)));
  } catch (const LauncherError& error) {
    if (error.message != kNotThere) throw;
    return std::nullopt;
  }
  // An index names each chunk of at least the smallest size a rule may
  // have, so the object's size bounds what is worth reading.
  const std::uint64_t ceiling = MaxChunkIndexBytes(size);
  const ParsedChunkIndex tooLarge{std::nullopt, {0, "larger than its object allows"}};
  if (request.contentLength() > ceiling) return tooLarge;
  std::vector<std::uint8_t> body;
  for (DWORD ready = BytesReady(request); ready != 0; ready = BytesReady(request)) {
    const std::size_t held = body.size();
    if (held + ready > ceiling) return tooLarge;
    body.resize(held + ready);
    const DWORD read = ReadBytes(request, body.data() + held, ready);
    body.resize(held + read);
    if (read == 0) break;
  }
  return ParseChunkIndex(body, sha256, size);
}

std::wstring RefusalText(const ChunkIndexRefusal& refusal) {
  return L"line " + std::to_wstring(refusal.line) + L": " + WidenAscii(refusal.reason);
}

// The chunks of the old file by the index's rule. Calls `tick` after every
// read, so that a stopped patch ends here too. A file that cannot be read
// (or only in part) gives what was read: each chunk is checked again as it
// is copied.
std::vector<Chunk> ChunksOfOldFile(const std::wstring& path, const ChunkRule& rule, const std::function<void()>& tick) {
  FileHandle file = OpenForReading(path);
  if (!file) return {};
  CngChunkHasher hasher;
  ChunkSplitter splitter(rule, hasher);
  std::vector<std::uint8_t> block(kReadBlockBytes);
  for (DWORD read = 0; ReadFile(file.get(), block.data(), kReadBlockBytes, &read, nullptr) && read > 0;) {
    splitter.Add(std::span(block.data(), read));
    tick();
  }
  return splitter.Finish();
}

// The chunks the old file at `path` holds, by `index`'s rule. The old
// object's own index, when the check named what the file held and the
// server has that index with the same rule, costs one small request; else
// the old file is chunked, which reads and hashes all of it. Either way each
// chunk is checked again as it is copied.
std::vector<Chunk> OldChunks(HttpSession& session, std::wstring_view baseUrl, const ChunkIndex& index,
                             const std::wstring& path, std::string_view heldSha256, const std::function<void()>& tick) {
  std::uint64_t size = 0;
  if (!heldSha256.empty() && FileSizeOf(path, size)) {
    std::optional<ParsedChunkIndex> old = FetchIndex(session, baseUrl, heldSha256, size);
    if (old && old->index && old->index->rule == index.rule) return std::move(old->index->chunks);
    if (old && !old->index) Trace(L"the old file's chunk index was refused, " + RefusalText(old->refusal));
  }
  return ChunksOfOldFile(path, index.rule, tick);
}

// Writes the new file's chunks in order into its ".partial", each checked
// against the index before it is written.
class Assembly {
 public:
  Assembly(HttpSession& session, std::wstring_view objectUrl, const ChunkIndex& index, const ByteProgress& progress)
      : session_(session), objectUrl_(objectUrl), index_(index), progress_(progress) {
    std::uint32_t largest = 0;
    for (const Chunk& chunk : index.chunks) largest = std::max(largest, chunk.size);
    chunk_.reserve(largest);
  }

  // Runs `steps` from byte `start` (a chunk's first byte) of `partial`,
  // reading the copied chunks from the file at `oldPath`.
  void Run(const std::vector<AssemblyStep>& steps, std::uint64_t start, const std::wstring& partial,
           const std::wstring& oldPath) {
    out_ = FileHandle(CreateFileW(partial.c_str(), GENERIC_WRITE, FILE_SHARE_READ, nullptr, OPEN_ALWAYS,
                                  FILE_ATTRIBUTE_NORMAL, nullptr));
    if (!out_) throw LauncherError{L"Could not write " + LastPathComponent(partial) + L"."};
    // What is kept beyond the chunk the assembly starts at is written again.
    if (!Seek(out_.get(), start) || !SetEndOfFile(out_.get())) WriteFailed(partial);
    old_ = OpenForReading(oldPath);
    written_ = start;
    progress_(written_, 0);
    for (const AssemblyStep& step : steps) {
      if (step.kind == AssemblyStep::Kind::Copy) {
        Copy(step, partial);
      } else {
        Fetch(step, partial);
      }
    }
    // Closing can report a write that the cache held back (a full disk).
    if (!CloseHandle(out_.release())) WriteFailed(partial);
  }

 private:
  void Copy(const AssemblyStep& step, const std::wstring& partial) {
    if (!old_ || !Seek(old_.get(), step.from)) throw GiveUp{L"the old file can no longer be read"};
    for (std::size_t i = step.firstChunk; i < step.firstChunk + step.chunkCount; ++i) {
      chunk_.resize(index_.chunks[i].size);
      if (!ReadExactly(old_.get(), chunk_)) throw GiveUp{L"the old file ended before a chunk it held"};
      Commit(i, L"a chunk read from the old file does not match the index", partial);
    }
  }

  void Fetch(const AssemblyStep& step, const std::wstring& partial) {
    HttpSession::RangeReply reply =
        session_.GetRange(objectUrl_, ByteRange::Closed(step.offset, step.offset + step.size - 1, index_.objectSize));
    switch (reply.answer) {
      case RangeAnswer::Exact:
        break;
      case RangeAnswer::Whole:
        throw GiveUp{L"the server answered a range with the whole object"};
      case RangeAnswer::Refused:
        throw GiveUp{L"the server answered a range with other bytes"};
      default:
        // A server error or a missing object says nothing about the index.
        throw LauncherError{kNotThere};
    }
    HttpRequest& request = reply.request;
    std::size_t next = step.firstChunk;
    const std::size_t end = step.firstChunk + step.chunkCount;
    chunk_.clear();
    for (;;) {
      const DWORD ready = BytesReady(request);
      if (ready == 0) break;
      if (next == end) throw GiveUp{L"a range ran past the bytes asked for"};
      const std::size_t size = chunk_.size();
      const DWORD want = static_cast<DWORD>(std::min<std::size_t>(ready, index_.chunks[next].size - size));
      chunk_.resize(size + want);
      const DWORD read = ReadBytes(request, chunk_.data() + size, want);
      chunk_.resize(size + read);
      if (read == 0) break;
      if (chunk_.size() == index_.chunks[next].size) {
        Commit(next++, L"a fetched chunk does not match the index", partial);
        chunk_.clear();
      }
    }
    // A body that ends early is a connection cut, as for a whole download:
    // the chunks written so far stay, and the next attempt goes on there.
    if (next != end) throw LauncherError{kCutShort};
  }

  // Checks chunk `i`'s bytes in `chunk_` and appends them to the file.
  void Commit(std::size_t i, const wchar_t* mismatch, const std::wstring& partial) {
    CngChunkHasher hasher;
    hasher.Add(chunk_);
    if (hasher.Finish() != index_.chunks[i].digest) throw GiveUp{mismatch};
    DWORD written = 0;
    if (!WriteFile(out_.get(), chunk_.data(), static_cast<DWORD>(chunk_.size()), &written, nullptr) ||
        written != chunk_.size()) {
      WriteFailed(partial);
    }
    written_ += chunk_.size();
    progress_(written_, 0);
  }

  // What a failed write left is not known to be the object's beginning.
  [[noreturn]] void WriteFailed(const std::wstring& partial) {
    out_.reset();
    DeleteFileW(partial.c_str());
    throw LauncherError{kCutShort};
  }

  HttpSession& session_;
  const std::wstring objectUrl_;
  const ChunkIndex& index_;
  const ByteProgress& progress_;
  FileHandle out_;
  FileHandle old_;
  std::vector<std::uint8_t> chunk_;  // one chunk at a time, at most the index's largest
  std::uint64_t written_ = 0;
};

// The first byte of the chunk that holds byte `offset` (the object's size
// for its end).
std::uint64_t ChunkStartAtOrBefore(const ChunkIndex& index, std::uint64_t offset) {
  const auto after = std::upper_bound(index.chunks.begin(), index.chunks.end(), offset,
                                      [](std::uint64_t at, const Chunk& chunk) { return at < chunk.offset; });
  return after == index.chunks.begin() ? 0 : std::prev(after)->offset;
}

// Assembles `file` into its ".partial"; returns false when it is better
// fetched whole (no index, nothing of it in the old file). Throws GiveUp
// when the index or an answer cannot be built on.
bool Assemble(HttpSession& session, std::wstring_view baseUrl, const ManifestFile& file,
              const std::wstring& destination, const ByteProgress& progress, bool resume, std::string_view heldSha256) {
  const std::wstring partial = PartialPath(destination);
  std::optional<ParsedChunkIndex> fetched = FetchIndex(session, baseUrl, file.sha256, file.size);
  if (!fetched) {
    Trace(L"no chunk index for " + WidenAscii(file.path) + L": it is fetched whole");
    return false;
  }
  if (!fetched->index) throw GiveUp{L"the chunk index was refused, " + RefusalText(fetched->refusal)};
  const std::optional<ChunkIndex>& index = fetched->index;

  std::uint64_t kept = 0;
  if (!resume || !FileSizeOf(partial, kept) || kept > file.size) kept = 0;
  // A cut assembly goes on from the first byte of the chunk it was writing:
  // that chunk is checked whole again.
  const std::uint64_t start = ChunkStartAtOrBefore(*index, kept);

  const LocalChunks local(OldChunks(session, baseUrl, *index, destination, heldSha256, [&] { progress(start, 0); }));
  const std::vector<AssemblyStep> steps = PlanAssembly(
      *index, [&](const Chunk& chunk) { return local.Find(chunk); }, start, kSequentialJoinGapBytes);
  if (TotalsOf(steps).copyBytes == 0) return false;

  Assembly(session, ObjectUrl(baseUrl, std::string(ObjectPathPrefix) + file.sha256), *index, progress)
      .Run(steps, start, partial, destination);
  if (FileSha256(partial) != file.sha256) throw GiveUp{L"the assembled file does not match the release"};
  return true;
}

}  // namespace

std::wstring FetchGameFile(HttpSession& session, std::wstring_view baseUrl, const ManifestFile& file,
                           const std::wstring& destination, const ByteProgress& progress, bool resume,
                           std::string_view heldSha256) {
  std::uint64_t oldSize = 0;
  if (file.size < kChunkIndexFromBytes || !FileSizeOf(destination, oldSize) || oldSize == 0) {
    return FetchChecked(session, baseUrl, file, destination, progress, resume);
  }
  const std::wstring partial = PartialPath(destination);
  try {
    if (Assemble(session, baseUrl, file, destination, progress, resume, heldSha256)) return partial;
  } catch (const GiveUp& giveUp) {
    Trace(L"the assembly of " + WidenAscii(file.path) + L" gave way to a whole download: " + giveUp.why);
    // The chunks written were checked against an index that turned out
    // wrong, so they are not known to begin the object.
    DeleteFileW(partial.c_str());
    return FetchChecked(session, baseUrl, file, destination, progress, false);
  }
  return FetchChecked(session, baseUrl, file, destination, progress, resume);
}

}  // namespace launcher
