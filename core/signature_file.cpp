#include "core/signature_file.h"

#include <algorithm>
#include <optional>

#include "core/hex.h"
#include "core/records.h"

namespace launcher {
namespace {

[[noreturn]] void Reject() { throw LauncherError{std::wstring(kSignatureUnreadable)}; }

}  // namespace

std::vector<std::uint8_t> ParseSignatureFile(std::span<const std::uint8_t> bytes) {
  if (bytes.size() < kSignatureFileMinBytes) Reject();
  if (!std::equal(kSignaturePrefix.begin(), kSignaturePrefix.end(), bytes.begin())) Reject();

  const std::span<const std::uint8_t> digits = bytes.subspan(kSignaturePrefix.size(), 2 * kSignatureBytes);
  std::vector<std::uint8_t> signature;
  signature.reserve(kSignatureBytes);
  for (std::size_t i = 0; i < digits.size(); i += 2) {
    const std::optional<std::uint8_t> high = HexDigitValue(static_cast<char>(digits[i]));
    const std::optional<std::uint8_t> low = HexDigitValue(static_cast<char>(digits[i + 1]));
    if (!high || !low) Reject();
    signature.push_back(static_cast<std::uint8_t>(*high << 4 | *low));
  }
  return signature;
}

std::string SignatureFileText(std::span<const std::uint8_t, kSignatureBytes> signature) {
  return std::string(kSignaturePrefix) + HexLower(signature) + "\n";
}

}  // namespace launcher
