#include "core/partial_record.h"

#include "core/text.h"

namespace launcher {
namespace {

bool IsLowerHexDigit(char c) { return (c >= '0' && c <= '9') || (c >= 'a' && c <= 'f'); }

bool IsDigest(std::string_view text) {
  if (text.size() != 64) return false;
  for (const char c : text) {
    if (!IsLowerHexDigit(c)) return false;
  }
  return true;
}

// The size as the writer spells it: no sign, no leading zero but in "0".
std::optional<std::uint64_t> ShortestDecimal(std::string_view text) {
  if (text.size() > 1 && text[0] == '0') return std::nullopt;
  return ParseDecimal(text);
}

std::optional<ManifestFile> ParseLine(std::string_view line) {
  const std::size_t first = line.find(' ');
  if (first == std::string_view::npos) return std::nullopt;
  const std::size_t second = line.find(' ', first + 1);
  if (second == std::string_view::npos) return std::nullopt;
  const std::string_view digest = line.substr(0, first);
  const std::optional<std::uint64_t> size = ShortestDecimal(line.substr(first + 1, second - first - 1));
  const std::string_view path = line.substr(second + 1);
  if (!IsDigest(digest) || !size || path.empty()) return std::nullopt;
  return ManifestFile{std::string(path), std::string(digest), *size};
}

}  // namespace

std::optional<std::string> PartialRecordText(const std::vector<const ManifestFile*>& files) {
  std::string text;
  for (const ManifestFile* file : files) {
    text += file->sha256 + " " + std::to_string(file->size) + " " + file->path + "\n";
    if (text.size() > kMaxPartialRecordBytes) return std::nullopt;
  }
  return text;
}

PartialRecord ParsePartialRecord(std::string_view text) {
  PartialRecord record;
  for (std::size_t start = 0; start < text.size();) {
    const std::size_t end = text.find('\n', start);
    if (end == std::string_view::npos) break;  // a last line without its end was cut
    if (std::optional<ManifestFile> entry = ParseLine(text.substr(start, end - start))) {
      std::string key = LowerAscii(entry->path);
      record.insert_or_assign(std::move(key), std::move(*entry));
    }
    start = end + 1;
  }
  return record;
}

bool PartialRecordVouchesFor(const PartialRecord& record, const ManifestFile& file) {
  const auto found = record.find(LowerAscii(file.path));
  return found != record.end() && found->second.sha256 == file.sha256 && found->second.size == file.size;
}

}  // namespace launcher
