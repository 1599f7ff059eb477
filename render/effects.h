// The animated effects over the background picture: hearth glow, molten
// strip, beacon glow and smoke wisps (PaintEffects), and the rising sparks
// (PaintSparks). Stateless: a frame depends only on the time, the client
// size and the DPI scale.
#pragma once

#include "render/gdiplus_handles.h"

namespace launcher {

// Draws on `graphics` for client width `width` at animation time t (s).
// Paints nothing when a sprite is missing.
void PaintEffects(Gdiplus::GpGraphics* graphics, int width, double t);

// The 26 sparks for the client size, DPI scale s and animation time t.
void PaintSparks(Gdiplus::GpGraphics* graphics, int width, int height, float s, double t);

}  // namespace launcher
