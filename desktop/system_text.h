// Texts that Windows copies into a caller's buffer and, when the buffer is
// too small, answers with the size it needs (environment values, full
// paths, the system folder). The buffer grows and the text is read again;
// a cut-off or undefined buffer is never used.
#pragma once

#include <windows.h>

#include <string>
#include <vector>

namespace launcher {

// `read(buffer, capacity)` returns the text's length when it fit, the
// capacity it needs (terminator included) when it did not, 0 on failure,
// which gives the empty text.
template <typename Read>
std::wstring ReadSystemText(Read read) {
  std::vector<wchar_t> buffer(MAX_PATH);
  for (;;) {
    const DWORD length = read(buffer.data(), static_cast<DWORD>(buffer.size()));
    if (length == 0) return {};
    if (length < buffer.size()) return std::wstring(buffer.data(), length);
    // The text may have grown again between the two calls: loop.
    buffer.resize(length);
  }
}

}  // namespace launcher
