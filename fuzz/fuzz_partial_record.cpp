// Feeds arbitrary bytes to the reader of "partials.txt", a file any program
// of the player's could have written: every entry it returns must be one the
// writer could have written, keyed by its own lower-cased path, and writing
// the entries again must give a record the reader reads back the same and
// that is no longer than what was read.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string_view>
#include <vector>

#include "core/partial_record.h"
#include "core/text.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const std::string_view text(reinterpret_cast<const char*>(data), size);
  const launcher::PartialRecord record = launcher::ParsePartialRecord(text);
  std::vector<const launcher::ManifestFile*> entries;
  for (const auto& [key, file] : record) {
    if (key != launcher::LowerAscii(file.path) || file.sha256.size() != 64 || file.path.empty() ||
        file.path.find('\n') != std::string::npos) {
      std::abort();
    }
    entries.push_back(&file);
  }
  const std::optional<std::string> again = launcher::PartialRecordText(entries);
  if (!again || again->size() > size) std::abort();
  const launcher::PartialRecord reread = launcher::ParsePartialRecord(*again);
  if (reread.size() != record.size()) std::abort();
  for (const auto& [key, file] : record) {
    if (!launcher::PartialRecordVouchesFor(reread, file) || reread.at(key).path != file.path) std::abort();
  }
  return 0;
}
