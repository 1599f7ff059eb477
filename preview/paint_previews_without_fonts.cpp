// Preview mode of a launcher that carries its pictures but not its fonts:
// shows which texts depend on Gelasio.
#include <windows.h>

// WIN32_LEAN_AND_MEAN leaves out the COM declarations gdiplus.h builds on.
#include <objidl.h>

#include <gdiplus.h>

#include "preview/paint_to_option.h"
#include "preview/preview.h"
#include "render/scene.h"

int wmain() {
  Gdiplus::GdiplusStartupInput input;
  ULONG_PTR token = 0;
  Gdiplus::GdiplusStartup(&token, &input, nullptr);
  const auto folder = launcher::PaintToFolder(GetCommandLineW());
  const int result = folder ? launcher::PaintPreviews(*folder) : 2;
  launcher::ReleaseRenderCaches();
  Gdiplus::GdiplusShutdown(token);
  return result;
}
