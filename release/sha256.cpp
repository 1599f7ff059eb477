#include "release/sha256.h"

#include <limits>

#include "core/records.h"

namespace launcher {

Sha256Hash::Sha256Hash() {
  if (BCryptOpenAlgorithmProvider(provider_.put(), BCRYPT_SHA256_ALGORITHM, nullptr, 0) < 0) {
    throw LauncherError{L"The launcher could not open a cryptography provider."};
  }
  if (BCryptCreateHash(provider_.get(), hash_.put(), nullptr, 0, nullptr, 0, 0) < 0) {
    throw LauncherError{L"The launcher could not start a hash."};
  }
}

void Sha256Hash::Update(std::span<const std::uint8_t> bytes) {
  // BCryptHashData takes a 32-bit count; feed larger inputs in pieces.
  constexpr std::size_t kMaxPiece = std::numeric_limits<ULONG>::max();
  do {
    const std::size_t piece = bytes.size() < kMaxPiece ? bytes.size() : kMaxPiece;
    if (BCryptHashData(hash_.get(), const_cast<PUCHAR>(bytes.data()), static_cast<ULONG>(piece), 0) < 0) {
      throw LauncherError{L"The launcher could not hash a file."};
    }
    bytes = bytes.subspan(piece);
  } while (!bytes.empty());
}

std::array<std::uint8_t, 32> Sha256Hash::Finish() {
  std::array<std::uint8_t, 32> digest{};
  if (BCryptFinishHash(hash_.get(), digest.data(), static_cast<ULONG>(digest.size()), 0) < 0) {
    throw LauncherError{L"The launcher could not finish a hash."};
  }
  return digest;
}

}  // namespace launcher
