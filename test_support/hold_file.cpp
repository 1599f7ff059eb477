// hold_file PATH none|read|readwrite READY_EVENT RELEASE_EVENT
//
// Opens PATH with the given sharing (never delete sharing, like a running
// game), signals READY_EVENT, and keeps the file open until RELEASE_EVENT is
// signalled. Exits 2 when the file cannot be opened.
#include <windows.h>

#include <cwchar>

int wmain(int argc, wchar_t** argv) {
  if (argc != 5) return 3;
  DWORD share = 0;
  if (std::wcscmp(argv[2], L"read") == 0) share = FILE_SHARE_READ;
  if (std::wcscmp(argv[2], L"readwrite") == 0) share = FILE_SHARE_READ | FILE_SHARE_WRITE;

  HANDLE ready = OpenEventW(EVENT_MODIFY_STATE, FALSE, argv[3]);
  HANDLE release = OpenEventW(SYNCHRONIZE, FALSE, argv[4]);
  if (!ready || !release) return 4;

  HANDLE file = CreateFileW(argv[1], GENERIC_READ, share, nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
  if (file == INVALID_HANDLE_VALUE) return 2;
  SetEvent(ready);
  WaitForSingleObject(release, 60000);
  CloseHandle(file);
  return 0;
}
