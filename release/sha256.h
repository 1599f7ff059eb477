// A CNG SHA-256 hash object, made per use and released on every path.
#pragma once

#include <windows.h>

#include <bcrypt.h>

#include <array>
#include <cstdint>
#include <span>

#include "release/cng_handles.h"

namespace launcher {

// One SHA-256 hash, made from the process's provider.
class Sha256Hash {
 public:
  // Throws "The launcher could not open a cryptography provider." or
  // "The launcher could not start a hash.".
  Sha256Hash();

  // Throws "The launcher could not hash a file.".
  void Update(std::span<const std::uint8_t> bytes);

  // Throws "The launcher could not finish a hash.".
  std::array<std::uint8_t, 32> Finish();

 private:
  HashHandle hash_;
};

}  // namespace launcher
