#include "files/thread_name.h"

#include <windows.h>

namespace launcher {

void NameThisThread(const wchar_t* name) noexcept {
  using SetDescription = HRESULT(WINAPI*)(HANDLE, PCWSTR);
  // Looked up once; an older kernel32 lacks the export and older MinGW
  // import libraries lack the entry, so it is never linked by name.
  static const auto set = reinterpret_cast<SetDescription>(
      reinterpret_cast<void*>(GetProcAddress(GetModuleHandleW(L"kernel32.dll"), "SetThreadDescription")));
  if (set) set(GetCurrentThread(), name);
}

}  // namespace launcher
