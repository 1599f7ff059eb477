// A trace for a developer of failures the player never sees in full: the
// launcher keeps no log file and shows one sentence per failure, so what
// was caught and the Windows error code go to OutputDebugStringW, where a
// debugger or a debug-output viewer shows them. Wine 8 prints them on its
// seh channel: WINEDEBUG=warn+seh. Nothing here changes what the player
// reads.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

namespace launcher {

// The line Trace writes: "Stonewake Launcher: <what>", then the code when
// there is one (decimal for a Win32 error, hexadecimal for an HRESULT or
// NTSTATUS, which set the high bits), and a line end.
std::wstring TraceLine(std::wstring_view what, std::uint32_t code);

// Writes TraceLine(what, code). Never throws; when even the line cannot be
// made (out of memory), `what` alone is written.
void Trace(std::wstring_view what, std::uint32_t code = 0) noexcept;

// Call inside a catch block: what is being handled, as text (a
// LauncherError's sentence, a standard exception's what(), or that it was of
// neither kind) and the Windows error code a LauncherError carries.
struct Caught {
  std::wstring what;
  std::uint32_t code = 0;
};
Caught DescribeCaught();

// Call inside a catch block: traces DescribeCaught() prefixed by `where`
// ("the check worker: ..."). Never throws.
void TraceCaught(std::wstring_view where) noexcept;

}  // namespace launcher
