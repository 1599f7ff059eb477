// Entry of Stonewake Launcher.exe: chooses the mode from the command line
// and, in the windowed mode, runs the start-up sequence and the message loop.
#include <windows.h>

#include <optional>
#include <string>

#include "core/install_layout.h"
#include "core/paths.h"
#include "core/records.h"
#include "desktop/install_folder.h"
#include "desktop/running_launcher.h"
#include "desktop/shortcuts.h"
#include "desktop/uninstall.h"
#include "preview/paint_to_option.h"
#include "preview/preview.h"
#include "render/gdiplus_session.h"
#include "render/scene.h"
#include "window/launcher_window.h"

namespace {

constexpr DWORD PredecessorWait = 10000;

// Takes the per-user single-instance mutex. False when another instance
// runs and this one is to end: its window has been brought to the front.
// With "--updated" (started by a predecessor that replaced itself) it waits
// for the predecessor to end instead, at most ten seconds. The mutex is
// never closed: it is held until the process ends.
bool TakeSingleInstance(const std::wstring& commandLine) {
  SetLastError(ERROR_SUCCESS);
  const HANDLE mutex = CreateMutexW(nullptr, TRUE, launcher::SingleInstanceMutexName);
  const DWORD error = GetLastError();
  // A mutex made by an instance this one may not open (an elevated one)
  // refuses access: that is an instance running too, never none.
  if (error != ERROR_ALREADY_EXISTS && !(mutex == nullptr && error == ERROR_ACCESS_DENIED)) return true;
  if (commandLine.find(L"--updated") != std::wstring::npos) {
    if (mutex) WaitForSingleObject(mutex, PredecessorWait);
    return true;
  }
  launcher::BringLauncherWindowToFront();
  return false;
}

int RunLauncher(HINSTANCE instance, int showCommand, const std::wstring& commandLine) {
  // 4. Install folder.
  const std::wstring installFolder = launcher::InstallFolder();
  launcher::SetInstallFolder(installFolder);

  // 5. COM for the shell operations of the upkeep; never uninitialised.
  CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED);

  // 6. Uninstall mode ("--uninstall").
  if (commandLine.find(L"--uninstall") != std::wstring::npos) return launcher::Uninstall(installFolder);

  // 7. Self-install and hand-over when this is not the installed executable.
  const std::wstring ownExecutable = launcher::OwnExecutablePath();
  const std::wstring installedExecutable = launcher::JoinPath(installFolder, launcher::LauncherFileNameWide);
  if (!launcher::IsSameFile(ownExecutable, installedExecutable)) {
    return launcher::SelfInstall(ownExecutable, installFolder, installedExecutable);
  }

  // 8. One instance per user.
  if (!TakeSingleInstance(commandLine)) return 0;

  // 9. The launcher file a self-replacement parked.
  DeleteFileW(launcher::JoinPath(installFolder, launcher::ParkedLauncherName).c_str());

  // 10. Shortcuts, once per installation.
  launcher::MakeShortcutsOnce(installedExecutable, installFolder);
  // 11. Uninstall entry, at every start.
  launcher::WriteUninstallEntry(installedExecutable, installFolder);
  // 12. Icon refresh, at every start.
  launcher::RefreshIcons(installedExecutable, installFolder);

  // 13-18. The window, sized for the system DPI.
  launcher::RegisterLauncherWindowClass(instance);
  const HWND window = launcher::CreateLauncherWindow(instance, static_cast<int>(GetDpiForSystem()));
  if (!window) return 1;

  // 19-21. Timers, show, first check.
  launcher::StartLauncherWindow(window, showCommand);

  // 22. The message loop, until the window is destroyed.
  MSG message = {};
  while (GetMessageW(&message, nullptr, 0, 0) > 0) {
    TranslateMessage(&message);
    DispatchMessageW(&message);
  }
  return static_cast<int>(message.wParam);
}

}  // namespace

int WINAPI wWinMain(HINSTANCE instance, HINSTANCE, PWSTR, int showCommand) {
  // 1. Wine refuses per-monitor awareness; the system DPI still follows the
  // prefix's setting, so the refusal is ignored.
  SetProcessDpiAwarenessContext(DPI_AWARENESS_CONTEXT_PER_MONITOR_AWARE_V2);
  // 2. GDI+, until the entry returns.
  // GDI+ for the life of the entry: it stops on every way out, and the
  // painter's cached pictures and fonts go right before it.
  launcher::GdiplusSession gdiplus;

  // 3. Preview mode.
  const std::wstring commandLine = GetCommandLineW();
  if (const std::optional<std::wstring> folder = launcher::PaintToFolder(commandLine)) {
    return launcher::PaintPreviews(*folder);
  }
  return RunLauncher(instance, showCommand, commandLine);
}
