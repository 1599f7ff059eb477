// Preview mode: the window's screens and two seconds of its animation
// painted into PNG files, without a window.
#pragma once

#include <string>
#include <vector>

#include "ui/ui_state.h"

namespace launcher {

// One picture of the preview: its file name without ".png", the state it
// shows (its DPI is set when painted) and the pressed flag.
struct PreviewScreen {
  std::wstring name;
  UiState state;
  int pressed;
};

// The 67 pictures in the order PaintPreviews writes them.
std::vector<PreviewScreen> PreviewScreens();

// Writes the 67 pictures of 840 x 510 pixels (144 DPI) into `folder`, in
// this order: ready, ready_hover, ready_pressed, checking, patch, patching,
// offline, frame_00 ... frame_59 (the ready screen at 30 frames a second
// from 3.0 s). The folder is not created. Returns 0 when every file was
// written, 1 when any could not be (no such folder, no PNG encoder, a write
// error). GDI+ must be running.
int PaintPreviews(const std::wstring& folder);

}  // namespace launcher
