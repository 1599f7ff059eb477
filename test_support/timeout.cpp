// A stand-in for Windows' timeout.exe, which Wine lacks: without it a cmd
// line that waits with "timeout /t N" runs its next command at once.
//
//   timeout /t SECONDS [/nobreak]
//
// Sleeps SECONDS seconds and exits 0; prints nothing (callers discard the
// real program's countdown anyway). The test prefixes get it in system32.
#include <windows.h>

#include <cwchar>

int wmain(int argc, wchar_t** argv) {
  for (int i = 1; i + 1 < argc; ++i) {
    if (_wcsicmp(argv[i], L"/t") == 0) {
      Sleep(static_cast<DWORD>(std::wcstoul(argv[i + 1], nullptr, 10)) * 1000);
      return 0;
    }
  }
  return 1;
}
