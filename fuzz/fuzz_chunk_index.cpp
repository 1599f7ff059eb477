// Feeds arbitrary bytes to the chunk index parser. The first 8 bytes are the
// object's size (little endian, below 2^40) the signed manifest would list,
// the rest the index; the object's digest is 64 'a'. The parser must refuse
// or return chunks that tile exactly that object within an allowed rule, and
// the writer's text of them must parse to the same index, and a chunker
// must run by that rule.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>

#include "core/chunk_index.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  if (size < 8) return 0;
  std::uint64_t objectSize = 0;
  for (int i = 7; i >= 0; --i) objectSize = (objectSize << 8) | data[i];
  objectSize &= (std::uint64_t{1} << 40) - 1;
  const std::string object(64, 'a');

  const launcher::ParsedChunkIndex parsed =
      launcher::ParseChunkIndex(std::span(data + 8, size - 8), object, objectSize);
  if (!parsed.index) {
    if (parsed.refusal.reason.empty()) std::abort();
    return 0;
  }
  const launcher::ChunkIndex& index = *parsed.index;
  if (index.objectSha256 != object || index.objectSize != objectSize || !launcher::IsChunkRuleAllowed(index.rule)) {
    std::abort();
  }
  std::uint64_t offset = 0;
  for (std::size_t i = 0; i < index.chunks.size(); ++i) {
    const launcher::Chunk& chunk = index.chunks[i];
    if (chunk.offset != offset || chunk.size == 0 || chunk.size > index.rule.max) std::abort();
    if (i + 1 < index.chunks.size() && chunk.size < index.rule.min) std::abort();
    offset += chunk.size;
  }
  if (offset != objectSize) std::abort();
  // A launcher chunks its old file by the rule the index names.
  launcher::Chunker chunker(index.rule);
  bool ended = false;
  chunker.Scan(std::span(data, size), ended);

  const std::string text = launcher::ChunkIndexText(index);
  const launcher::ParsedChunkIndex again = launcher::ParseChunkIndex(
      std::span(reinterpret_cast<const std::uint8_t*>(text.data()), text.size()), object, objectSize);
  if (!again.index || again.index->chunks != index.chunks || again.index->rule != index.rule) std::abort();
  return 0;
}
