// Feeds arbitrary bytes to the parser of the record of verified files: it
// must either refuse them with a line and a reason, or return a record whose
// text, written again, parses back to the same bytes.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string_view>

#include "core/verified_record.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const std::string_view text(reinterpret_cast<const char*>(data), size);
  const launcher::VerifiedRecordParse parsed = launcher::ParseVerifiedRecord(text);
  if (!parsed.record) {
    if (parsed.line == 0 || parsed.reason.empty()) std::abort();
    return 0;
  }
  for (const launcher::VerifiedEntry& entry : parsed.record->entries) {
    if (entry.sha256.size() != 64 || entry.path.empty() || entry.check > parsed.record->check) std::abort();
  }
  // The parser accepts exactly what the writer writes.
  if (launcher::VerifiedRecordText(*parsed.record) != text) std::abort();
  return 0;
}
