#include "release/signature_file.h"

#include <algorithm>
#include <optional>

#include "release/records.h"

namespace launcher {
namespace {

[[noreturn]] void Reject() { throw LauncherError{std::wstring(kSignatureUnreadable)}; }

std::optional<std::uint8_t> DigitValue(std::uint8_t c) {
  if (c >= '0' && c <= '9') return static_cast<std::uint8_t>(c - '0');
  if (c >= 'a' && c <= 'f') return static_cast<std::uint8_t>(c - 'a' + 10);
  if (c >= 'A' && c <= 'F') return static_cast<std::uint8_t>(c - 'A' + 10);
  return std::nullopt;
}

}  // namespace

std::vector<std::uint8_t> ParseSignatureFile(std::span<const std::uint8_t> bytes) {
  if (bytes.size() < kSignatureFileMinBytes) Reject();
  if (!std::equal(kSignaturePrefix.begin(), kSignaturePrefix.end(), bytes.begin())) Reject();

  const std::span<const std::uint8_t> digits = bytes.subspan(kSignaturePrefix.size(), 2 * kSignatureBytes);
  std::vector<std::uint8_t> signature;
  signature.reserve(kSignatureBytes);
  for (std::size_t i = 0; i < digits.size(); i += 2) {
    const std::optional<std::uint8_t> high = DigitValue(digits[i]);
    const std::optional<std::uint8_t> low = DigitValue(digits[i + 1]);
    if (!high || !low) Reject();
    signature.push_back(static_cast<std::uint8_t>(*high << 4 | *low));
  }
  return signature;
}

}  // namespace launcher
