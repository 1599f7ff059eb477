// Posts the launcher window's closure message with junk values, as any other
// program on the desktop could: post_junk.exe <window handle in hex>.
// Exits 0 when every message was posted.
#include <windows.h>

#include <cwchar>

int wmain(int argc, wchar_t** argv) {
  if (argc != 2) return 2;
  const HWND window = reinterpret_cast<HWND>(static_cast<INT_PTR>(std::wcstoull(argv[1], nullptr, 16)));
  const struct {
    WPARAM wParam;
    LPARAM lParam;
  } junk[] = {{0, 0x12345678}, {0xDEADBEEF, static_cast<LPARAM>(0xFFFFFFFFFFFF0000ull)}, {1, -1}, {0, 1}};
  for (const auto& j : junk) {
    if (!PostMessageW(window, WM_APP + 1, j.wParam, j.lParam)) return 1;
  }
  return 0;
}
