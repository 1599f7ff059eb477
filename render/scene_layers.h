// The layers PaintScene draws, back to front, each on the scene's GDI+
// graphics. Exposed so that the paint benchmark can time them one by one
// and the tests can compare the two ways of painting; the window and the
// previews call PaintScene.
#pragma once

#include <windows.h>

#include <string_view>

#include "render/fonts.h"
#include "render/gdiplus_handles.h"
#include "ui/ui_state.h"

namespace launcher {

// How a frame is painted. Both give the same pixels. Economical is what
// PaintScene does: it keeps the backdrop with its ground glow, the fonts and
// the text objects between paints, clips the progress strips of the
// button's straight section to a rectangle and skips what cannot show.
// Straightforward makes every object afresh and draws everything: the
// reference the tests and the benchmark hold the economical way against.
enum class PaintWay { Economical, Straightforward };

// PaintScene painted the given way.
void PaintSceneWay(HDC dc, RECT client, const UiState& state, RECT button, int pressed, PaintWay way);

// The background picture drawn 1:1 at the client size, or a flat dark fill
// when it cannot be loaded.
void PaintBackground(Gdiplus::GpGraphics* graphics, int width, int height);

// The warm glow over the lower half; its bottom colour has alpha `alpha`
// (GroundGlowAlpha of the animation time).
void PaintGroundGlow(Gdiplus::GpGraphics* graphics, int width, int height, std::uint32_t alpha);

// The status line and its shadow.
void PaintStatusLine(Gdiplus::GpGraphics* graphics, const Fonts& fonts, const UiState& ui, PaintWay way);

// The action button: outline, fill, progress fill, border and caption.
void PaintButton(Gdiplus::GpGraphics* graphics, const Fonts& fonts, const UiState& ui, RECT button, int pressed,
                 PaintWay way);

// The version line (left) and the launcher's own version (right).
void PaintVersionLines(Gdiplus::GpGraphics* graphics, const Fonts& fonts, const UiState& ui, PaintWay way);

// One line of text, as every text of the scene is laid out: vertically
// centred in `box`, never wrapped, cut with an ellipsis when too long.
void DrawTextLine(Gdiplus::GpGraphics* graphics, std::wstring_view text, Gdiplus::GpFont* font,
                  const Gdiplus::RectF& box, Gdiplus::StringAlignment alignment, Gdiplus::ARGB colour, PaintWay way);

}  // namespace launcher
