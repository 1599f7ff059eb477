#include "desktop/running_launcher.h"

#include <windows.h>

#include "core/unique_handle.h"

namespace launcher {

bool LauncherIsRunning() {
  const HANDLE opened = OpenMutexW(SYNCHRONIZE, FALSE, SingleInstanceMutexName);
  const DWORD error = GetLastError();
  UniqueHandle<HANDLE, &CloseHandle> mutex(opened);
  // The mutex of an instance this process may not open (an elevated one)
  // refuses access: that instance runs too.
  return mutex || error == ERROR_ACCESS_DENIED;
}

void BringLauncherWindowToFront() {
  HWND window = FindWindowW(LauncherWindowClass, nullptr);
  if (!window) return;
  ShowWindow(window, SW_RESTORE);
  SetForegroundWindow(window);
}

}  // namespace launcher
