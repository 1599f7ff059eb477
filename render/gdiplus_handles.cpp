#include "render/gdiplus_handles.h"

#include <vector>

namespace launcher {

BrushHandle SolidBrush(Gdiplus::ARGB colour) {
  Gdiplus::GpSolidFill* brush = nullptr;
  gdip::GdipCreateSolidFill(colour, &brush);
  return BrushHandle(brush);
}

BrushHandle LinearBrush(Gdiplus::PointF from, Gdiplus::PointF to, Gdiplus::ARGB a, Gdiplus::ARGB b) {
  Gdiplus::GpLineGradient* brush = nullptr;
  gdip::GdipCreateLineBrush(&from, &to, a, b, Gdiplus::WrapModeTile, &brush);
  return BrushHandle(brush);
}

BrushHandle PathGlowBrush(Gdiplus::GpPath* path, Gdiplus::ARGB centre, Gdiplus::ARGB edge) {
  Gdiplus::GpPathGradient* brush = nullptr;
  gdip::GdipCreatePathGradientFromPath(path, &brush);
  BrushHandle held(brush);
  if (!brush) return held;
  gdip::GdipSetPathGradientCenterColor(brush, centre);
  INT points = 0;
  gdip::GdipGetPathGradientPointCount(brush, &points);
  if (points >= 1) {
    // One colour serves every point of the rim.
    INT count = 1;
    gdip::GdipSetPathGradientSurroundColorsWithCount(brush, &edge, &count);
  }
  return held;
}

}  // namespace launcher
