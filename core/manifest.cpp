#include "core/manifest.h"

#include <optional>
#include <string>
#include <vector>

#include "core/line_reader.h"
#include "core/text.h"

namespace launcher {
namespace {

constexpr std::string_view kHeader = "stonewake-manifest 1";
constexpr std::string_view kEnd = "end";

bool IsWhite(char c) { return c == ' ' || c == '\t' || c == '\v' || c == '\f' || c == '\r'; }

// Reads white-space separated words off one line, the way formatted stream
// extraction does, and leaves the rest of the line for the path.
class Fields {
 public:
  explicit Fields(std::string_view line) : line_(line) {}

  void SkipWhite() {
    while (pos_ < line_.size() && IsWhite(line_[pos_])) ++pos_;
  }

  // The next run of non-white bytes; empty when the line has no more.
  std::string_view Word() {
    SkipWhite();
    const std::size_t start = pos_;
    while (pos_ < line_.size() && !IsWhite(line_[pos_])) ++pos_;
    return line_.substr(start, pos_ - start);
  }

  // An unsigned 64-bit decimal number after optional white space and an
  // optional '+'. A '-' is refused: stream extraction would wrap "-5" around
  // to 2^64 - 5, which no published size can mean.
  std::optional<std::uint64_t> Size() {
    SkipWhite();
    if (pos_ < line_.size() && line_[pos_] == '+') ++pos_;
    const std::size_t start = pos_;
    while (pos_ < line_.size() && line_[pos_] >= '0' && line_[pos_] <= '9') ++pos_;
    return ParseDecimal(line_.substr(start, pos_ - start));
  }

  std::string_view Rest() const { return line_.substr(pos_); }

 private:
  std::string_view line_;
  std::size_t pos_ = 0;
};

bool IsDigestText(std::string_view digest) {
  if (digest.size() != 64) return false;
  for (char c : digest) {
    if (!((c >= '0' && c <= '9') || (c >= 'a' && c <= 'f'))) return false;
  }
  return true;
}

// The file line after its key; the reason of a refusal otherwise. The path
// rule is checked apart, once every line has been read.
std::optional<std::string_view> ParseFileLine(Fields& fields, ManifestFile& file) {
  const std::string_view digest = fields.Word();
  if (!IsDigestText(digest)) return "the digest is not 64 lowercase hexadecimal digits";
  const std::optional<std::uint64_t> size = fields.Size();
  if (!size) return "the size is not a decimal number below 2^64";
  fields.SkipWhite();
  file = ManifestFile{std::string(fields.Rest()), std::string(digest), *size};
  return std::nullopt;
}

// Paths that each can be installed may still not go together: the download
// of one would overwrite or need to be another, so every patch would fetch
// them again for ever. The same file listed twice with one digest is fine.
bool PathsGoTogether(const std::vector<ManifestFile>& files) {
  std::vector<std::string> paths;
  paths.reserve(files.size());
  for (const ManifestFile& file : files) paths.push_back(file.path);
  for (const PathClash& clash : FindPathClashes(paths)) {
    if (clash.kind != PathClash::Kind::SameFile || files[clash.first].sha256 != files[clash.second].sha256) {
      return false;
    }
  }
  return true;
}

// A refused line can be the whole 32 MiB body (one without a line feed):
// its beginning says enough.
ManifestRefusal Refusal(ManifestRefusal::Kind kind, std::size_t line, std::string_view text, std::string_view reason) {
  return ManifestRefusal{kind, line, std::string(text.substr(0, kMaxRefusedLineChars)), std::string(reason)};
}

}  // namespace

ManifestReading ReadManifest(std::span<const std::uint8_t> bytes) {
  using Kind = ManifestRefusal::Kind;
  ManifestReading reading;
  Manifest& manifest = reading.manifest;
  LineReader lines(AsText(bytes));

  const std::optional<std::string_view> header = lines.Next();
  if (!header || *header != kHeader) {
    reading.refusal = Refusal(Kind::Grammar, 1, header.value_or(""), "the first line is not \"stonewake-manifest 1\"");
    return reading;
  }

  // The first path the install cannot hold; refused once every line has
  // been read, so that a grammar fault further down is the one reported.
  std::optional<ManifestRefusal> pathFault;
  for (;;) {
    const std::optional<std::string_view> line = lines.Next();
    if (!line) {
      reading.refusal = Refusal(Kind::Grammar, 0, "", "no \"end\" line: the manifest reads as cut off");
      return reading;
    }
    if (*line == kEnd) break;
    Fields fields(*line);
    const std::string_view key = fields.Word();
    if (key == "version") {
      const std::string_view word = fields.Word();
      if (!word.empty()) manifest.version = word;
    } else if (key == "commit") {
      const std::string_view word = fields.Word();
      if (!word.empty()) manifest.commit = word;
    } else if (key == "rollback") {
      manifest.rollback = true;
    } else if (key == "file") {
      ManifestFile file;
      if (const std::optional<std::string_view> fault = ParseFileLine(fields, file)) {
        reading.refusal = Refusal(Kind::Grammar, lines.Number(), *line, *fault);
        return reading;
      }
      if (!pathFault && CheckInstallPath(file.path).fault != PathFault::None) {
        pathFault = Refusal(Kind::Paths, lines.Number(), *line, "the path cannot be installed on Windows");
      }
      manifest.files.push_back(std::move(file));
    } else {
      reading.refusal = Refusal(Kind::Grammar, lines.Number(), *line,
                                "not a line of the manifest (version, commit, rollback, file or end)");
      return reading;
    }
  }
  if (manifest.version.empty()) {
    reading.refusal = Refusal(Kind::Grammar, 0, "", "no version");
  } else if (manifest.files.empty()) {
    reading.refusal = Refusal(Kind::Grammar, 0, "", "no file line");
  } else if (pathFault) {
    reading.refusal = std::move(pathFault);
  } else if (!PathsGoTogether(manifest.files)) {
    reading.refusal = Refusal(Kind::Paths, 0, "", "two paths cannot be installed together");
  }
  return reading;
}

Manifest ParseManifest(std::span<const std::uint8_t> bytes) {
  ManifestReading reading = ReadManifest(bytes);
  if (reading.refusal) throw LauncherError{std::wstring(kManifestUnreadable)};
  return std::move(reading.manifest);
}

std::string ManifestText(const Manifest& manifest) {
  std::string text = "stonewake-manifest 1\n";
  text += "version " + manifest.version + "\n";
  if (!manifest.commit.empty()) text += "commit " + manifest.commit + "\n";
  if (manifest.rollback) text += "rollback\n";
  for (const ManifestFile& file : manifest.files) {
    text += "file " + file.sha256 + " " + std::to_string(file.size) + " " + file.path + "\n";
  }
  text += "end\n";
  return text;
}

}  // namespace launcher
