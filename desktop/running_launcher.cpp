#include "desktop/running_launcher.h"

#include <windows.h>

#include "files/system_handles.h"

namespace launcher {

bool LauncherIsRunning() {
  const HANDLE opened = OpenMutexW(SYNCHRONIZE, FALSE, SingleInstanceMutexName);
  const DWORD error = GetLastError();
  KernelHandle mutex(opened);
  // The mutex of an instance this process may not open (an elevated one)
  // refuses access: that instance runs too.
  return mutex || error == ERROR_ACCESS_DENIED;
}

bool TakeSingleInstance(const wchar_t* name, bool updated, unsigned long predecessorWaitMs) {
  SetLastError(ERROR_SUCCESS);
  const HANDLE mutex = CreateMutexW(nullptr, TRUE, name);
  const DWORD error = GetLastError();
  // A mutex made by an instance this one may not open (an elevated one)
  // refuses access: that is an instance running too, never none.
  if (error != ERROR_ALREADY_EXISTS && !(mutex == nullptr && error == ERROR_ACCESS_DENIED)) return true;
  if (updated) {
    if (mutex) WaitForSingleObject(mutex, predecessorWaitMs);
    return true;
  }
  return false;
}

void BringLauncherWindowToFront() {
  HWND window = FindWindowW(LauncherWindowClass, nullptr);
  if (!window) return;
  // The window belongs to another process: its own thread restores it, the
  // way a click on its taskbar button does, whatever state this process
  // last heard of it in.
  PostMessageW(window, WM_SYSCOMMAND, SC_RESTORE, 0);
  ShowWindowAsync(window, SW_RESTORE);
  SetForegroundWindow(window);
}

}  // namespace launcher
