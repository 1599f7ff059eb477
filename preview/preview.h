// Preview mode: the window's screens and two seconds of its animation
// painted into PNG files, without a window.
#pragma once

#include <string>

namespace launcher {

// Writes the 67 pictures of 840 x 510 pixels (144 DPI) into `folder`, in
// this order: ready, ready_hover, ready_pressed, checking, patch, patching,
// offline, frame_00 ... frame_59 (the ready screen at 30 frames a second
// from 3.0 s). The folder is not created. Returns 0 when every file was
// written, 1 when any could not be (no such folder, no PNG encoder, a write
// error). GDI+ must be running.
int PaintPreviews(const std::wstring& folder);

}  // namespace launcher
