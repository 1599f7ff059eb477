// The record of verified files ("stonewake-verified 1"): what the launcher
// last hashed or verified of each installed file, and what the file system
// said of the file at that moment.
//
//   stonewake-verified 1
//   check 42
//   <64 lowercase hex> <size> <last-write time> <check> game/Stonewake.exe
//   end
//
// The last-write time is in 100 ns units since 1601 (a FILETIME as one
// number). `check` counts the checks that wrote the record; an entry's
// `check` is the one that last hashed or verified its file, so the files
// verified longest ago are those with the lowest. The path is a manifest
// path, byte for byte, and is never made into a local path by this record.
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace launcher {

// Twice the manifest's ceiling: a line here carries two more numbers than a
// manifest's file line, so a record of the largest manifest fits.
inline constexpr std::size_t kMaxVerifiedRecordBytes = 64 * 1048576;

// What the file system says of a file without opening it.
struct FileStamp {
  std::uint64_t size = 0;
  std::uint64_t lastWrite = 0;  // 100 ns units since 1601
  bool operator==(const FileStamp&) const = default;
};

struct VerifiedEntry {
  std::string path;    // manifest path
  std::string sha256;  // 64 lowercase hex: what the file held when stamped
  FileStamp stamp;
  std::uint64_t check = 0;  // the check that last hashed or verified it
};

struct VerifiedRecord {
  std::uint64_t check = 0;             // 0: nothing known
  std::vector<VerifiedEntry> entries;  // one per path
};

// The record's text in the grammar above, every line ending in LF.
std::string VerifiedRecordText(const VerifiedRecord& record);

struct VerifiedRecordParse {
  std::optional<VerifiedRecord> record;  // nothing when refused
  std::size_t line = 0;                  // 1-based line of the refusal
  std::string reason;                    // why, for a developer's trace
};

// Reads a record. Refuses (with the line and the reason) anything the
// writer does not write: another header, a number with leading zeros or
// out of range, an entry checked after the record's own check, a path
// listed twice, a missing "end" (a cut record), bytes after it.
VerifiedRecordParse ParseVerifiedRecord(std::string_view text);

}  // namespace launcher
