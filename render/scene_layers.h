// The layers PaintScene draws, back to front, each on the scene's GDI+
// graphics. Exposed so that the paint benchmark can time them one by one;
// the window and the previews call PaintScene.
#pragma once

#include <string_view>

#include "render/embedded_assets.h"
#include "render/gdiplus_handles.h"
#include "ui/ui_state.h"

namespace launcher {

// The background picture drawn 1:1 at the client size, or a flat dark fill
// when it cannot be loaded.
void PaintBackground(Gdiplus::GpGraphics* graphics, int width, int height);

// The warm glow over the lower half, pulsing with a period of 7.5 s.
void PaintGroundGlow(Gdiplus::GpGraphics* graphics, int width, int height, double t);

// The status line and its shadow.
void PaintStatusLine(Gdiplus::GpGraphics* graphics, const Fonts& fonts, const UiState& ui);

// The action button: outline, fill, progress fill, border and caption.
void PaintButton(Gdiplus::GpGraphics* graphics, const Fonts& fonts, const UiState& ui, RECT button, int pressed);

// The version line (left) and the launcher's own version (right).
void PaintVersionLines(Gdiplus::GpGraphics* graphics, const Fonts& fonts, const UiState& ui);

// One line of text, as every text of the scene is laid out: vertically
// centred in `box`, never wrapped, cut with an ellipsis when too long.
void DrawTextLine(Gdiplus::GpGraphics* graphics, std::wstring_view text, Gdiplus::GpFont* font,
                  const Gdiplus::RectF& box, Gdiplus::StringAlignment alignment, Gdiplus::ARGB colour);

}  // namespace launcher
