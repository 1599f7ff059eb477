#include "release/sha256.h"

#include <limits>

#include "core/records.h"

namespace launcher {

namespace {

// Opening a provider costs more than hashing a small file, and one provider
// may make hashes on several threads at once, so the process opens one.
// It is never closed: a detached worker may still be hashing while the
// process ends, and the end of the process frees it anyway. An opening that
// fails is tried again by the next hash.
BCRYPT_ALG_HANDLE Sha256Provider() {
  static const BCRYPT_ALG_HANDLE provider = [] {
    BCRYPT_ALG_HANDLE opened = nullptr;
    if (const NTSTATUS status = BCryptOpenAlgorithmProvider(&opened, BCRYPT_SHA256_ALGORITHM, nullptr, 0); status < 0) {
      throw LauncherError{L"The launcher could not open a cryptography provider.", static_cast<std::uint32_t>(status)};
    }
    return opened;
  }();
  return provider;
}

}  // namespace

Sha256Hash::Sha256Hash() {
  if (const NTSTATUS status = BCryptCreateHash(Sha256Provider(), hash_.put(), nullptr, 0, nullptr, 0, 0); status < 0) {
    throw LauncherError{L"The launcher could not start a hash.", static_cast<std::uint32_t>(status)};
  }
}

void Sha256Hash::Update(std::span<const std::uint8_t> bytes) {
  // BCryptHashData takes a 32-bit count; feed larger inputs in pieces.
  constexpr std::size_t kMaxPiece = std::numeric_limits<ULONG>::max();
  do {
    const std::size_t piece = bytes.size() < kMaxPiece ? bytes.size() : kMaxPiece;
    if (const NTSTATUS status =
            BCryptHashData(hash_.get(), const_cast<PUCHAR>(bytes.data()), static_cast<ULONG>(piece), 0);
        status < 0) {
      throw LauncherError{L"The launcher could not hash a file.", static_cast<std::uint32_t>(status)};
    }
    bytes = bytes.subspan(piece);
  } while (!bytes.empty());
}

std::array<std::uint8_t, 32> Sha256Hash::Finish() {
  std::array<std::uint8_t, 32> digest{};
  if (const NTSTATUS status = BCryptFinishHash(hash_.get(), digest.data(), static_cast<ULONG>(digest.size()), 0);
      status < 0) {
    throw LauncherError{L"The launcher could not finish a hash.", static_cast<std::uint32_t>(status)};
  }
  return digest;
}

}  // namespace launcher
