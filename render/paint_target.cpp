#include "render/paint_target.h"

#include "render/scene_layers.h"
#include "ui/layout.h"

namespace launcher {

PaintTarget::PaintTarget(int width, int height, PixelStore store) : width_(width), height_(height) {
  if (store == PixelStore::TopDownDib) {
    dc_.reset(CreateCompatibleDC(nullptr));
    if (!dc_) return;
    BITMAPINFO info{};
    info.bmiHeader.biSize = sizeof(BITMAPINFOHEADER);
    info.bmiHeader.biWidth = width;
    info.bmiHeader.biHeight = -height;  // rows top-down
    info.bmiHeader.biPlanes = 1;
    info.bmiHeader.biBitCount = 32;
    info.bmiHeader.biCompression = BI_RGB;
    bitmap_.reset(CreateDIBSection(dc_.get(), &info, DIB_RGB_COLORS, &bits_, nullptr, 0));
  } else {
    HDC screen = GetDC(nullptr);
    dc_.reset(CreateCompatibleDC(screen));
    bitmap_.reset(CreateCompatibleBitmap(screen, width, height));
    ReleaseDC(nullptr, screen);
  }
  if (dc_ && bitmap_) selection_ = SelectedObject(dc_.get(), bitmap_.get());
}

PaintTarget::~PaintTarget() { Deselect(); }

void PaintTarget::Paint(const UiState& state, int pressed, PaintWay way) {
  if (!selection_) return;
  const PixelRect b = ButtonRect(state.dpi);
  PaintSceneWay(dc_.get(), client(), state, RECT{b.left, b.top, b.right, b.bottom}, pressed, way);
  GdiFlush();
}

void PaintTarget::Deselect() { selection_.reset(); }

}  // namespace launcher
