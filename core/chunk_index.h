// The chunk index of a large object, served beside it as
// "objects/<sha256>.chunks" (ChunkIndexPath). It lists the object's chunks
// (core/chunker.h) in order, so a launcher that holds an older file can
// copy the chunks it already has and fetch only the rest with byte ranges.
//
//   stonewake-chunks 1
//   object <64 lowercase hex> <size>
//   rule gear <min> <avg> <max>
//   <size> <64 lowercase hex>        one line per chunk, in order
//   end
//
// A chunk begins where the one before it ended, so offsets are not written:
// chunks cannot overlap or leave holes, and a line costs 71 bytes for a
// 64 KiB chunk. Lines end in LF (one CR before it is removed, as in the
// manifest). The index is not signed: it can only make a delta fail, never
// put a wrong byte in place, since every chunk and the whole file are
// checked against digests before anything moves.
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "core/chunker.h"

namespace launcher {

struct ChunkIndex {
  std::string objectSha256;  // 64 lowercase hex
  std::uint64_t objectSize = 0;
  ChunkRule rule;
  std::vector<Chunk> chunks;  // in order, each at the offset where the one before ended
};

// Objects of at least this many bytes get an index. An index costs the
// launcher one more request and a few hundred KB of lines per GiB; below a
// few MiB fetching the whole file takes about as long as those requests
// (bench/resume.sh: one more request cost 0.056 s at 50 ms round trip and
// 3 MB/s, the time of 170 KB).
inline constexpr std::uint64_t kChunkIndexFromBytes = 4 * 1024 * 1024;

// The index's path in the release tree: "objects/<sha256>.chunks".
std::string ChunkIndexPath(std::string_view objectSha256);

// The most bytes an index of an object of `objectSize` bytes can have: every
// chunk but the last holds at least kSmallestChunkMin bytes. What a
// launcher may fetch for it.
std::uint64_t MaxChunkIndexBytes(std::uint64_t objectSize);

// The index's text in the grammar above, every line ending in LF.
std::string ChunkIndexText(const ChunkIndex& index);

// Why an index was refused: its line (1-based; 0 for the text as a whole)
// and a reason in plain words for a developer's trace or the publisher.
struct ChunkIndexRefusal {
  std::size_t line = 0;
  std::string reason;
};

struct ParsedChunkIndex {
  std::optional<ChunkIndex> index;  // set when accepted
  ChunkIndexRefusal refusal;        // when refused
};

// Reads an index that must describe the object `objectSha256` of
// `objectSize` bytes (what the signed manifest lists). Refused: a text
// longer than MaxChunkIndexBytes, a wrong header, another object's digest
// or size, a rule that is not allowed (IsChunkRuleAllowed), a chunk line
// that is malformed, longer than the rule's max, shorter than its min
// before the last chunk, or that runs past the object's size, chunks that
// end before the object does, a missing "end". Text after "end" is ignored.
// Never throws for what the bytes hold; work and memory are bounded by the
// object's size.
ParsedChunkIndex ParseChunkIndex(std::span<const std::uint8_t> bytes, std::string_view objectSha256,
                                 std::uint64_t objectSize);

}  // namespace launcher
