// A bitmap of the client size with a memory device context to paint it in:
// what the previews save, and what the tests and the benchmark paint into.
#pragma once

#include <windows.h>

#include <cstdint>

#include "core/unique_handle.h"
#include "files/system_handles.h"
#include "render/scene_layers.h"
#include "ui/ui_state.h"

namespace launcher {

using MemoryDc = UniqueHandle<HDC, &DeleteDC>;
using BitmapObject = UniqueHandle<HBITMAP, &DeleteObject>;

enum class PixelStore {
  TopDownDib,        // a 32-bit DIB section, rows top-down, pixels readable
  ScreenCompatible,  // a bitmap like the screen's, as a window paints into
};

class PaintTarget {
 public:
  // Check with operator bool: GDI can refuse the DC or the bitmap.
  PaintTarget(int width, int height, PixelStore store);
  ~PaintTarget();
  PaintTarget(const PaintTarget&) = delete;
  PaintTarget& operator=(const PaintTarget&) = delete;

  explicit operator bool() const { return dc_ && bitmap_; }
  HDC dc() const { return dc_.get(); }
  HBITMAP bitmap() const { return bitmap_.get(); }
  RECT client() const { return {0, 0, width_, height_}; }

  // PaintScene for `state`, with the action button at ButtonRect(state.dpi),
  // painted the given way.
  void Paint(const UiState& state, int pressed, PaintWay way = PaintWay::Economical);

  // The pixels of a DIB as 0x00RRGGBB, width * height of them, row by row;
  // null for a screen-compatible bitmap.
  const std::uint32_t* pixels() const { return static_cast<const std::uint32_t*>(bits_); }

  // Selects the DC's own bitmap back, leaving bitmap() free for GDI+ to
  // wrap. Nothing can be painted afterwards.
  void Deselect();

 private:
  int width_;
  int height_;
  MemoryDc dc_;
  BitmapObject bitmap_;
  void* bits_ = nullptr;
  SelectedObject selection_;  // after the bitmap: deselects it before it is deleted
};

}  // namespace launcher
