#include "desktop/running_launcher.h"

#include <windows.h>

#include "release/unique_handle.h"

namespace launcher {

bool LauncherIsRunning() {
  UniqueHandle<HANDLE, &CloseHandle> mutex(OpenMutexW(SYNCHRONIZE, FALSE, SingleInstanceMutexName));
  return static_cast<bool>(mutex);
}

void BringLauncherWindowToFront() {
  HWND window = FindWindowW(LauncherWindowClass, nullptr);
  if (!window) return;
  ShowWindow(window, SW_RESTORE);
  SetForegroundWindow(window);
}

}  // namespace launcher
