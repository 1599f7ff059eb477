// "partials.txt": which object each resumable ".partial" file of an install
// begins. One line per download that may be resumed, in the patch's order:
//
//   <64 lowercase hex> <size> <manifest path>LF
//
// The patch writes the record whole (beside itself, then renamed over)
// before any of those downloads starts, and goes on from a ".partial" only
// when the record names the object the release now lists at its path; so a
// kill at any moment leaves the previous record or the new one, and every
// ".partial" either begins the object its record names or is gone.
#pragma once

#include <cstddef>
#include <map>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "core/manifest.h"
#include "core/records.h"

namespace launcher {

// The most bytes the record may hold, written or read. It lists each file of
// one manifest at most once, and its line is the manifest's line without
// "file " and with the size in its shortest form, so the record of any
// manifest the launcher accepts is shorter than the manifest itself.
inline constexpr std::size_t kMaxPartialRecordBytes = kMaxManifestBytes;

// The record's entries, keyed by the manifest path lower-cased by LowerAscii
// (one file to Windows whatever its letter case).
using PartialRecord = std::map<std::string, ManifestFile>;

// The record naming `files` in order; none when it would be longer than
// kMaxPartialRecordBytes.
std::optional<std::string> PartialRecordText(const std::vector<const ManifestFile*>& files);

// The entries of the record's text. A line that does not keep the form above
// is skipped: a last line without its LF (a record cut short), a digest that
// is not 64 lowercase hex digits, a size that is not the shortest decimal of
// a 64-bit number, an empty path. Of two lines for one path the later counts.
PartialRecord ParsePartialRecord(std::string_view text);

// True when `record` names `file`'s object (digest and size) at `file`'s path
// in any letter case: a ".partial" the record's patch wrote there begins it.
bool PartialRecordVouchesFor(const PartialRecord& record, const ManifestFile& file);

}  // namespace launcher
