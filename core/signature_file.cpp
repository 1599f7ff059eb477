#include "core/signature_file.h"

#include <algorithm>
#include <optional>
#include <string_view>
#include <utility>

#include "core/hex.h"
#include "core/records.h"
#include "core/text.h"

namespace launcher {
namespace {

[[noreturn]] void Reject() { throw LauncherError{std::wstring(kSignatureUnreadable)}; }

}  // namespace

std::vector<std::uint8_t> ParseSignatureFile(std::span<const std::uint8_t> bytes) {
  if (bytes.size() < kSignatureFileMinBytes) Reject();
  if (!std::equal(kSignaturePrefix.begin(), kSignaturePrefix.end(), bytes.begin())) Reject();

  const std::span<const std::uint8_t> digits = bytes.subspan(kSignaturePrefix.size(), 2 * kSignatureBytes);
  std::optional<std::vector<std::uint8_t>> signature = ParseHex(AsText(digits));
  if (!signature) Reject();
  return std::move(*signature);
}

std::string SignatureFileText(std::span<const std::uint8_t, kSignatureBytes> signature) {
  return std::string(kSignaturePrefix) + HexLower(signature) + "\n";
}

}  // namespace launcher
