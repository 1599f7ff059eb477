// Feeds arbitrary bytes to the signature file parser: it must either throw
// LauncherError or return the 64 bytes that the digits after the prefix
// spell, whatever their case.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <vector>

#include "core/records.h"
#include "core/signature_file.h"

namespace {

int Nibble(std::uint8_t c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  std::abort();  // the parser accepted a byte that is no digit
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  try {
    const std::vector<std::uint8_t> signature = launcher::ParseSignatureFile(std::span(data, size));
    if (size < launcher::kSignatureFileMinBytes || signature.size() != launcher::kSignatureBytes) std::abort();
    const std::uint8_t* digits = data + launcher::kSignaturePrefix.size();
    for (std::size_t i = 0; i < signature.size(); ++i) {
      if (signature[i] != (Nibble(digits[2 * i]) << 4 | Nibble(digits[2 * i + 1]))) std::abort();
    }
  } catch (const launcher::LauncherError&) {
  }
  return 0;
}
