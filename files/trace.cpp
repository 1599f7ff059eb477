#include "files/trace.h"

#include <windows.h>

#include <cstdio>
#include <iterator>
#include <new>

#include "core/records.h"
#include "core/text.h"

namespace launcher {

std::wstring TraceLine(std::wstring_view what, std::uint32_t code) {
  std::wstring line = L"Stonewake Launcher: ";
  line += what;
  if (code != 0) {
    wchar_t number[32];
    // Win32 errors are small numbers and read in decimal; HRESULTs and
    // NTSTATUS values set the top bits and are documented in hexadecimal.
    std::swprintf(number, std::size(number), code <= 0xFFFF ? L" (error %lu)" : L" (error 0x%08lX)",
                  static_cast<unsigned long>(code));
    line += number;
  }
  line += L'\n';
  return line;
}

void Trace(std::wstring_view what, std::uint32_t code) noexcept {
  try {
    OutputDebugStringW(TraceLine(what, code).c_str());
  } catch (...) {
    OutputDebugStringW(L"Stonewake Launcher: a failure could not be traced (out of memory)\n");
  }
}

Caught DescribeCaught() {
  try {
    throw;
  } catch (const LauncherError& error) {
    return {error.message, error.windowsError};
  } catch (const std::bad_alloc&) {
    return {L"out of memory"};
  } catch (const std::exception& error) {
    return {WidenAscii(error.what())};
  } catch (...) {
    return {L"an exception of an unknown type"};
  }
}

void TraceCaught(std::wstring_view where) noexcept {
  try {
    const Caught caught = DescribeCaught();
    Trace(std::wstring(where) + L": " + caught.what, caught.code);
  } catch (...) {
    // Out of memory while describing it: the place alone still says where.
    Trace(where);
  }
}

}  // namespace launcher
