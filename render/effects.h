// The animated effects over the background picture: hearth glow, molten
// strip, beacon glow and smoke wisps (PaintEffects), and the rising sparks
// (PaintSparks). Stateless: a frame depends only on the time, the client
// size and the DPI scale.
#pragma once

#include "render/gdiplus_handles.h"
#include "render/scene_layers.h"

namespace launcher {

// Draws on `graphics` for the client size at animation time t (s).
// Paints nothing when a sprite is missing. The economical way leaves out
// the smoke wisps that lie wholly outside the client area.
void PaintEffects(Gdiplus::GpGraphics* graphics, int width, int height, double t, PaintWay way);

// The 26 sparks for the client size, DPI scale s and animation time t. The
// economical way leaves out a glow or core whose alpha is 0 and a spark
// wholly outside the client area.
void PaintSparks(Gdiplus::GpGraphics* graphics, int width, int height, float s, double t, PaintWay way);

}  // namespace launcher
