// Deterministic test content that uses every byte value in an order that is
// not a simple count, so a shifted, truncated or reordered copy never
// matches by accident.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

namespace launcher::testing {

inline std::string PatternBytes(std::size_t size, unsigned seed = 1) {
  std::string bytes(size, '\0');
  std::uint32_t state = seed;
  for (char& b : bytes) {
    state = state * 1664525u + 1013904223u;
    b = static_cast<char>(state >> 24);
  }
  return bytes;
}

}  // namespace launcher::testing
