// Preview mode of a launcher that carries its pictures but not its fonts:
// shows which texts depend on Gelasio.
#include <windows.h>

#include "preview/paint_to_option.h"
#include "preview/preview.h"
#include "render/gdiplus_session.h"

int wmain() {
  const launcher::GdiplusSession gdiplus;
  const auto folder = launcher::PaintToFolder(GetCommandLineW());
  return folder ? launcher::PaintPreviews(*folder) : 2;
}
