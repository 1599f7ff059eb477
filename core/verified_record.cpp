#include "core/verified_record.h"

#include <set>

#include "core/text.h"

namespace launcher {
namespace {

constexpr std::string_view kHeader = "stonewake-verified 1";

bool IsDigest(std::string_view text) {
  if (text.size() != 64) return false;
  for (const char c : text) {
    if (!((c >= '0' && c <= '9') || (c >= 'a' && c <= 'f'))) return false;
  }
  return true;
}

// A decimal as the writer writes it: no sign, no leading zero.
std::optional<std::uint64_t> Number(std::string_view text) {
  if (text.size() > 1 && text.front() == '0') return std::nullopt;
  return ParseDecimal(text);
}

// Splits off the text up to the next space; false when there is none.
bool TakeField(std::string_view& rest, std::string_view& field) {
  const std::size_t space = rest.find(' ');
  if (space == std::string_view::npos) return false;
  field = rest.substr(0, space);
  rest.remove_prefix(space + 1);
  return true;
}

bool IsPath(std::string_view path) {
  if (path.empty()) return false;
  for (const char c : path) {
    if (static_cast<unsigned char>(c) < 0x20 || c == 0x7f) return false;
  }
  return true;
}

}  // namespace

std::string VerifiedRecordText(const VerifiedRecord& record) {
  std::string text;
  text.reserve(40 + record.entries.size() * 140);
  text += kHeader;
  text += "\ncheck " + std::to_string(record.check) + "\n";
  for (const VerifiedEntry& entry : record.entries) {
    text += entry.sha256;
    text += ' ';
    text += std::to_string(entry.stamp.size);
    text += ' ';
    text += std::to_string(entry.stamp.lastWrite);
    text += ' ';
    text += std::to_string(entry.check);
    text += ' ';
    text += entry.path;
    text += '\n';
  }
  text += "end\n";
  return text;
}

VerifiedRecordParse ParseVerifiedRecord(std::string_view text) {
  VerifiedRecordParse result;
  VerifiedRecord record;
  std::set<std::string_view> paths;
  std::size_t number = 0;
  const auto refuse = [&](const char* reason) {
    result.line = number;
    result.reason = reason;
    return result;
  };
  while (!text.empty()) {
    ++number;
    const std::size_t end = text.find('\n');
    if (end == std::string_view::npos) return refuse("line without its end");
    std::string_view line = text.substr(0, end);
    text.remove_prefix(end + 1);
    if (number == 1) {
      if (line != kHeader) return refuse("not a record of verified files");
      continue;
    }
    if (number == 2) {
      std::string_view word;
      if (!TakeField(line, word) || word != "check") return refuse("no check line");
      const std::optional<std::uint64_t> check = Number(line);
      if (!check) return refuse("bad check number");
      record.check = *check;
      continue;
    }
    if (line == "end") {
      if (!text.empty()) {
        ++number;
        return refuse("bytes after the end");
      }
      result.record = std::move(record);
      return result;
    }
    std::string_view digest, size, lastWrite, check;
    if (!TakeField(line, digest) || !TakeField(line, size) || !TakeField(line, lastWrite) || !TakeField(line, check)) {
      return refuse("entry with too few fields");
    }
    VerifiedEntry entry;
    if (!IsDigest(digest)) return refuse("bad digest");
    const std::optional<std::uint64_t> sizeValue = Number(size);
    const std::optional<std::uint64_t> timeValue = Number(lastWrite);
    const std::optional<std::uint64_t> checkValue = Number(check);
    if (!sizeValue || !timeValue || !checkValue) return refuse("bad number");
    if (*checkValue > record.check) return refuse("entry checked after the record");
    if (!IsPath(line)) return refuse("bad path");
    if (!paths.insert(line).second) return refuse("path listed twice");
    entry.path = line;
    entry.sha256 = digest;
    entry.stamp = {*sizeValue, *timeValue};
    entry.check = *checkValue;
    record.entries.push_back(std::move(entry));
  }
  const char* const missing = number == 0 ? "empty" : number == 1 ? "no check line" : "no end line";
  ++number;
  return refuse(missing);
}

}  // namespace launcher
