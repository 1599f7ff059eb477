// Preview mode of a launcher that carries its pictures but not its fonts,
// nor uses the machine's: shows which texts depend on Gelasio.
//
//   paint_previews_without_fonts FOLDER
#include <windows.h>

#include "preview/preview.h"
#include "render/fonts.h"
#include "render/gdiplus_session.h"

int wmain(int argc, wchar_t** argv) {
  if (argc != 2) return 2;
  const launcher::GdiplusSession gdiplus;
  launcher::SkipInstalledFonts(true);
  return launcher::PaintPreviews(argv[1]);
}
