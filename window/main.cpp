// Entry of Stonewake Launcher.exe: chooses the mode from the command line
// and, in the windowed mode, runs the start-up sequence and the message loop.
#include <windows.h>

#include <string>

#include "core/install_layout.h"
#include "core/paths.h"
#include "desktop/install_folder.h"
#include "desktop/running_launcher.h"
#include "desktop/shortcuts.h"
#include "desktop/uninstall.h"
#include "engine/verified_files.h"
#include "files/thread_name.h"
#include "preview/preview.h"
#include "render/fonts.h"
#include "render/gdiplus_session.h"
#include "render/scene.h"
#include "window/launch_options.h"
#include "window/launcher_window.h"

namespace {

int RunLauncher(HINSTANCE instance, int showCommand, const launcher::LaunchOptions& options) {
  const std::wstring installFolder = launcher::InstallFolder();

  // The shell operations of shortcuts, icons and removal need COM on this
  // thread; it stays up until the process ends.
  CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED);

  if (options.uninstall) return launcher::Uninstall(installFolder);

  // Without the record of verified files the next check, in this launcher
  // or in the one already running, hashes every file.
  if (options.verify) launcher::ForgetVerifiedFiles(installFolder);

  // A copy started from anywhere else (a download, a shortcut to an old
  // copy) installs itself and hands over to the installed copy.
  const std::wstring ownExecutable = launcher::OwnExecutablePath();
  const std::wstring installedExecutable = launcher::JoinPath(installFolder, launcher::LauncherFileNameWide);
  if (!launcher::IsSameFile(ownExecutable, installedExecutable)) {
    return launcher::SelfInstall(ownExecutable, installFolder, installedExecutable);
  }

  // Another launcher of this player runs: it comes to the front instead.
  // One started by its replaced predecessor waits for that one to end.
  if (!launcher::TakeSingleInstance(launcher::SingleInstanceMutexName, options.updated)) {
    launcher::BringLauncherWindowToFront();
    return 0;
  }

  // A self-replacement parks the old launcher; it could not delete its own
  // running file, the successor can.
  DeleteFileW(launcher::JoinPath(installFolder, launcher::kParkedLauncherName).c_str());

  // Desktop upkeep: shortcuts once per installation (a player may delete
  // them on purpose), the uninstall entry and the pinned icons at every start
  // (the install may have been moved or patched). None of it may stop the
  // launcher.
  launcher::MakeShortcutsOnce(installedExecutable, installFolder);
  launcher::WriteUninstallEntry(installedExecutable, installFolder);
  launcher::RefreshIcons(installedExecutable, installFolder);

  // The window lives in this frame until the loop has ended, so no handler
  // still on the stack when it is destroyed can outlive it.
  launcher::LauncherWindow window(installFolder);
  launcher::LauncherWindow::RegisterWindowClass(instance);
  if (!window.Open(instance, static_cast<int>(GetDpiForSystem()), showCommand)) return 1;

  MSG message = {};
  while (GetMessageW(&message, nullptr, 0, 0) > 0) {
    TranslateMessage(&message);
    DispatchMessageW(&message);
  }
  return static_cast<int>(message.wParam);
}

}  // namespace

int WINAPI wWinMain(HINSTANCE instance, HINSTANCE, PWSTR, int showCommand) {
  // The window rescales itself when moved to a monitor of another DPI.
  // Wine refuses per-monitor awareness; the system DPI still follows the
  // prefix's setting, so the refusal is ignored.
  SetProcessDpiAwarenessContext(DPI_AWARENESS_CONTEXT_PER_MONITOR_AWARE_V2);
  launcher::NameThisThread(L"Stonewake window");
  // GDI+ for the life of the entry: it stops on every way out, and the
  // painter's cached pictures and fonts go right before it.
  launcher::GdiplusSession gdiplus;

  const launcher::LaunchOptions options = launcher::ReadLaunchOptions();
  launcher::SkipInstalledFonts(options.noWindowsFonts);
  // Previews need no install folder, no COM, no mutex and no window.
  if (options.paintTo) return launcher::PaintPreviews(*options.paintTo);
  // The pictures and fonts of the first frame load while the rest of the
  // start runs. A run that shows no window (a removal, a copy that installs
  // itself or hands over to a running launcher) loses a fraction of a
  // second of one thread by it, ending when GDI+ stops.
  if (gdiplus.started()) launcher::PrepareFirstPaint(static_cast<int>(GetDpiForSystem()));
  return RunLauncher(instance, showCommand, options);
}
