// Entry of Stonewake Launcher.exe.
#include <windows.h>

// WIN32_LEAN_AND_MEAN leaves out the COM declarations gdiplus.h builds on.
#include <objidl.h>

#include <gdiplus.h>

#include <optional>
#include <string>

#include "preview/paint_to_option.h"
#include "preview/preview.h"
#include "render/scene.h"

namespace {

// GDI+ for the life of the entry. It stops on every way out, and the
// painter's cached pictures and fonts go right before it.
class GdiplusSession {
 public:
  GdiplusSession() {
    Gdiplus::GdiplusStartupInput input;
    Gdiplus::GdiplusStartup(&token_, &input, nullptr);
  }
  ~GdiplusSession() {
    launcher::ReleaseRenderCaches();
    Gdiplus::GdiplusShutdown(token_);
  }
  GdiplusSession(const GdiplusSession&) = delete;
  GdiplusSession& operator=(const GdiplusSession&) = delete;

 private:
  ULONG_PTR token_ = 0;
};

}  // namespace

int WINAPI wWinMain(HINSTANCE, HINSTANCE, PWSTR, int) {
  // Wine refuses per-monitor awareness; the system DPI still follows the
  // prefix's setting, so the refusal is ignored.
  SetProcessDpiAwarenessContext(DPI_AWARENESS_CONTEXT_PER_MONITOR_AWARE_V2);
  GdiplusSession gdiplus;

  const std::wstring commandLine = GetCommandLineW();
  if (const std::optional<std::wstring> folder = launcher::PaintToFolder(commandLine)) {
    return launcher::PaintPreviews(*folder);
  }
  return 0;
}
