// The one painter of the launcher's window: the window paints through it
// on every WM_PAINT, the previews into PNG files.
#pragma once

#include <windows.h>

#include "ui/ui_state.h"

namespace launcher {

// Paints the whole client area (only its width and height are used) for
// `state`: background, glows, effects, sparks, status line, the action
// button at `button` (ButtonRect for state.dpi) and the version lines.
// `pressed` is 1 while the left mouse button is held on the button. Reads
// nothing but its arguments and the render caches, which keep the
// backdrop with its ground glow, the fonts and the text objects between
// paints (the same pixels, less work; render_caches.h). A GDI+ session
// must be running; pictures and fonts are loaded on first use.
void PaintScene(HDC dc, RECT client, const UiState& state, RECT button, int pressed);

// Starts loading what the first paint at `dpi` needs (the backdrop at the
// window's client size, the sprites, the fonts) on a thread of its own, so
// that it overlaps the rest of the program's start instead of delaying the
// first frame. PaintScene and ReleaseRenderCaches wait for that thread
// before they touch a cache, so no cache is ever used by two threads. Call
// it once, with a GDI+ session running, before the first paint; without a
// session it does nothing.
void PrepareFirstPaint(int dpi);

}  // namespace launcher
