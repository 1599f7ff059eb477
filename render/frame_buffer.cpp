#include "render/frame_buffer.h"

namespace launcher {

bool FrameBuffer::Present(HDC target, int width, int height, const UiState& state, int pressed) {
  if (width <= 0 || height <= 0) return false;
  if (!frame_ || width != width_ || height != height_ || state.dpi != dpi_) {
    // The old bitmap goes before the new one is made, so the two never
    // hold memory at once.
    frame_.reset();
    auto made = std::make_unique<PaintTarget>(width, height, PixelStore::ScreenCompatible);
    if (!*made) return false;
    frame_ = std::move(made);
    width_ = width;
    height_ = height;
    dpi_ = state.dpi;
  }
  frame_->Paint(state, pressed);
  return BitBlt(target, 0, 0, width, height, frame_->dc(), 0, 0, SRCCOPY) != FALSE;
}

}  // namespace launcher
