// The window's off-screen frame: a bitmap of the client size in a memory
// DC, kept from one paint to the next. Each frame is painted into it and
// copied to the window in one piece, so the window never shows a
// half-painted scene; keeping it saves making and deleting a DC and a
// bitmap 30 times a second.
#pragma once

#include <windows.h>

#include <memory>

#include "render/paint_target.h"
#include "ui/ui_state.h"

namespace launcher {

class FrameBuffer {
 public:
  FrameBuffer() = default;
  FrameBuffer(const FrameBuffer&) = delete;
  FrameBuffer& operator=(const FrameBuffer&) = delete;

  // Paints `state` (PaintTarget::Paint) into the kept bitmap and copies it
  // to `target` at 0, 0. The bitmap is made like the screen's at the first
  // paint and made again when the size or the DPI changes. False, with
  // nothing copied, when GDI refuses the DC or the bitmap (tried again at
  // the next paint).
  bool Present(HDC target, int width, int height, const UiState& state, int pressed);

  // Lets go of the DC and the bitmap.
  void Release() { frame_.reset(); }

  // The kept DC and bitmap (null when none): what the tests watch.
  HDC dc() const { return frame_ ? frame_->dc() : nullptr; }
  HBITMAP bitmap() const { return frame_ ? frame_->bitmap() : nullptr; }

 private:
  std::unique_ptr<PaintTarget> frame_;
  int width_ = 0;
  int height_ = 0;
  int dpi_ = 0;
};

}  // namespace launcher
