#include "core/chunk_index.h"

#include <algorithm>
#include <utility>

#include "core/hex.h"
#include "core/line_reader.h"
#include "core/release_layout.h"
#include "core/text.h"

namespace launcher {
namespace {

constexpr std::string_view kHeader = "stonewake-chunks 1";
constexpr std::string_view kEnd = "end";
constexpr std::string_view kIndexSuffix = ".chunks";

// Header, object and rule lines, "end" and their line ends, with room.
constexpr std::uint64_t kFixedLinesBytes = 256;
// "<size> <digest>" CR LF with a size of at most kLargestChunkMax.
constexpr std::uint64_t kChunkLineBytes = 8 + 1 + 64 + 2;

bool IsDigestText(std::string_view text) {
  if (text.size() != 64) return false;
  for (char c : text) {
    if (!((c >= '0' && c <= '9') || (c >= 'a' && c <= 'f'))) return false;
  }
  return true;
}

// Splits a line at single spaces; nothing when a field would be empty (two
// spaces, a space at either end), so there is one way to write each line.
std::optional<std::vector<std::string_view>> Fields(std::string_view line) {
  std::vector<std::string_view> fields;
  std::size_t start = 0;
  for (;;) {
    const std::size_t space = line.find(' ', start);
    const std::string_view field = line.substr(start, space == std::string_view::npos ? line.npos : space - start);
    if (field.empty()) return std::nullopt;
    fields.push_back(field);
    if (space == std::string_view::npos) return fields;
    start = space + 1;
  }
}

std::optional<std::uint32_t> RuleNumber(std::string_view text) {
  const std::optional<std::uint64_t> value = ParseDecimal(text);
  if (!value || *value > kLargestChunkMax) return std::nullopt;
  return static_cast<std::uint32_t>(*value);
}

ParsedChunkIndex Refuse(std::size_t line, std::string reason) {
  return ParsedChunkIndex{std::nullopt, ChunkIndexRefusal{line, std::move(reason)}};
}

}  // namespace

std::string ChunkIndexPath(std::string_view objectSha256) {
  std::string path(ObjectPathPrefix);
  path += objectSha256;
  path += kIndexSuffix;
  return path;
}

std::uint64_t MaxChunkIndexBytes(std::uint64_t objectSize) {
  return kFixedLinesBytes + (objectSize / kSmallestChunkMin + 1) * kChunkLineBytes;
}

std::string ChunkIndexText(const ChunkIndex& index) {
  std::string text;
  text.reserve(kFixedLinesBytes + index.chunks.size() * (kChunkLineBytes - 1));
  text += kHeader;
  text += "\nobject " + index.objectSha256 + " " + std::to_string(index.objectSize) + "\n";
  text += "rule " + std::string(kGearRuleName) + " " + std::to_string(index.rule.min) + " " +
          std::to_string(index.rule.avg) + " " + std::to_string(index.rule.max) + "\n";
  for (const Chunk& chunk : index.chunks) {
    text += std::to_string(chunk.size);
    text += ' ';
    text += HexLower(chunk.digest);
    text += '\n';
  }
  text += kEnd;
  text += '\n';
  return text;
}

ParsedChunkIndex ParseChunkIndex(std::span<const std::uint8_t> bytes, std::string_view objectSha256,
                                 std::uint64_t objectSize) {
  if (bytes.size() > MaxChunkIndexBytes(objectSize)) {
    return Refuse(0, "larger than an index of a " + std::to_string(objectSize) + "-byte object can be");
  }
  LineReader lines(AsText(bytes));

  std::optional<std::string_view> line = lines.Next();
  if (!line || *line != kHeader) return Refuse(1, "not a chunk index (the first line must be \"stonewake-chunks 1\")");

  ChunkIndex index;
  line = lines.Next();
  const auto object = line ? Fields(*line) : std::nullopt;
  if (!object || object->size() != 3 || (*object)[0] != "object" || !IsDigestText((*object)[1]) ||
      !ParseDecimal((*object)[2])) {
    return Refuse(lines.Number(), "expected \"object <sha256> <size>\"");
  }
  if ((*object)[1] != objectSha256 || *ParseDecimal((*object)[2]) != objectSize) {
    return Refuse(lines.Number(), "describes another object than " + std::string(objectSha256) + " of " +
                                      std::to_string(objectSize) + " bytes");
  }
  index.objectSha256 = std::string(objectSha256);
  index.objectSize = objectSize;

  line = lines.Next();
  const auto rule = line ? Fields(*line) : std::nullopt;
  if (!rule || rule->size() != 5 || (*rule)[0] != "rule") {
    return Refuse(lines.Number(), "expected \"rule gear <min> <avg> <max>\"");
  }
  if ((*rule)[1] != kGearRuleName) return Refuse(lines.Number(), "unknown chunk rule");
  const auto min = RuleNumber((*rule)[2]);
  const auto avg = RuleNumber((*rule)[3]);
  const auto max = RuleNumber((*rule)[4]);
  if (!min || !avg || !max || !IsChunkRuleAllowed(ChunkRule{*min, *avg, *max})) {
    return Refuse(lines.Number(), "chunk sizes the launcher does not allow");
  }
  index.rule = ChunkRule{*min, *avg, *max};

  std::uint64_t offset = 0;
  bool shortSeen = false;  // a chunk under min may only be the last
  for (;;) {
    line = lines.Next();
    if (!line) return Refuse(lines.Number() + 1, "the \"end\" line is missing");
    if (*line == kEnd) break;
    const auto fields = Fields(*line);
    if (!fields || fields->size() != 2 || !IsDigestText((*fields)[1])) {
      return Refuse(lines.Number(), "expected \"<size> <sha256>\"");
    }
    const std::optional<std::uint64_t> size = ParseDecimal((*fields)[0]);
    if (!size || *size == 0 || *size > index.rule.max) {
      return Refuse(lines.Number(), "a chunk size outside 1 to the rule's max");
    }
    if (shortSeen) return Refuse(lines.Number() - 1, "a chunk shorter than the rule's min before the last");
    if (*size > objectSize - offset) return Refuse(lines.Number(), "chunks run past the object's size");
    shortSeen = *size < index.rule.min;
    Chunk chunk{offset, static_cast<std::uint32_t>(*size), {}};
    const auto digest = ParseHex((*fields)[1]);
    std::copy(digest->begin(), digest->end(), chunk.digest.begin());
    index.chunks.push_back(chunk);
    offset += *size;
  }
  if (offset != objectSize) return Refuse(lines.Number(), "chunks end before the object's size");
  return ParsedChunkIndex{std::move(index), {}};
}

}  // namespace launcher
