// The action button's steps of the scene: outline, fill, progress fill,
// border and caption.
#include <algorithm>
#include <cmath>

#include "render/button_look.h"
#include "render/colour.h"
#include "render/scene_layers.h"

namespace launcher {
namespace {

struct ButtonGeometry {
  float x, y, w, h;
  float r;  // corner radius
  float s;  // DPI scale
};

// Four quarter arcs joined into one closed figure.
PathHandle ButtonPath(const ButtonGeometry& b) {
  PathHandle path;
  gdip::GdipCreatePath(Gdiplus::FillModeAlternate, path.put());
  if (!path) return path;
  const float d = 2 * b.r;
  gdip::GdipAddPathArc(path.get(), b.x, b.y, d, d, 180, 90);
  gdip::GdipAddPathArc(path.get(), b.x + b.w - d, b.y, d, d, 270, 90);
  gdip::GdipAddPathArc(path.get(), b.x + b.w - d, b.y + b.h - d, d, d, 0, 90);
  gdip::GdipAddPathArc(path.get(), b.x, b.y + b.h - d, d, d, 90, 90);
  gdip::GdipClosePathFigure(path.get());
  return path;
}

PenHandle Pen(Argb colour, float width) {
  PenHandle pen;
  gdip::GdipCreatePen1(colour, width, Gdiplus::UnitWorld, pen.put());
  return pen;
}

// A vertical gradient over the button's height, one pixel beyond each edge
// so that the end colours are reached.
BrushHandle VerticalBrush(const ButtonGeometry& b, Argb top, Argb bottom) {
  return LinearBrush({0, b.y - 1}, {0, b.y + b.h + 1}, top, bottom);
}

void PaintActiveFill(Gdiplus::GpGraphics* graphics, Gdiplus::GpPath* outline, const ButtonGeometry& b, float h,
                     int pressed) {
  if (h > kHaloThreshold) {
    for (int n : {8, 6, 4, 2}) {
      PenHandle halo = Pen(HaloColour(h), static_cast<float>(n) * b.s);
      gdip::GdipSetPenLineJoin(halo.get(), Gdiplus::LineJoinRound);
      gdip::GdipDrawPath(graphics, halo.get(), outline);
    }
  }
  const ButtonFill fill = ActiveButtonFill(h, pressed);
  BrushHandle brush = VerticalBrush(b, fill.top, fill.bottom);
  gdip::GdipFillPath(graphics, brush.get(), outline);

  PenHandle highlight = Pen(HighlightColour(h), b.s);
  const float lineY = b.y + b.s + 0.5f;
  gdip::GdipDrawLine(graphics, highlight.get(), b.x + b.r, lineY, b.x + b.w - b.r, lineY);
}

// The molten fill from the left, clipped to the outline.
void PaintProgressFill(Gdiplus::GpGraphics* graphics, Gdiplus::GpPath* outline, const ButtonGeometry& b,
                       std::int32_t percent, double t, PaintWay way) {
  const float p = ProgressFraction(percent);
  if (!(p > 0)) return;
  RegionHandle clip;
  gdip::GdipCreateRegionPath(outline, clip.put());
  gdip::GdipSetClipRegion(graphics, clip.get(), Gdiplus::CombineModeReplace);

  // Between the corners' arcs the outline is the button's rectangle, whose
  // edges lie on whole pixels, so a strip whose pixels all lie there can be
  // clipped to that rectangle: the same pixels, without turning the path
  // into a clip for every strip. A pixel of margin at each end.
  const bool economical = way == PaintWay::Economical;
  const float straightLeft = std::ceil(b.x + b.r) + 1;
  const float straightRight = std::floor(b.x + b.w - b.r) - 1;
  bool clippedToRectangle = false;

  const float fw = p * b.w;
  const float step = ProgressStripWidth(b.s);
  float x0 = 0;
  for (;;) {
    const float stripLeft = b.x + x0;
    const float stripRight = stripLeft + std::min(step, fw - x0) + 0.5f;
    const bool straight = economical && std::floor(stripLeft) >= straightLeft && std::ceil(stripRight) <= straightRight;
    if (straight != clippedToRectangle) {
      if (straight) {
        gdip::GdipSetClipRect(graphics, b.x, b.y, b.w, b.h, Gdiplus::CombineModeReplace);
      } else {
        gdip::GdipSetClipRegion(graphics, clip.get(), Gdiplus::CombineModeReplace);
      }
      clippedToRectangle = straight;
    }
    const float x1 = x0 + step;
    const float e = std::min(x1, fw);
    const Argb c0 = OpaqueColour(HeatColor(x0, fw, b.w, t));
    const Argb c1 = OpaqueColour(HeatColor(e, fw, b.w, t));
    BrushHandle strip = LinearBrush({b.x + x0 - 0.5f, 0}, {b.x + e + 0.5f, 0}, c0, c1);
    // Half a pixel of overlap with the next strip hides the seams.
    gdip::GdipFillRectangle(graphics, strip.get(), b.x + x0, b.y, std::min(step, fw - x0) + 0.5f, b.h);
    x0 = x1;
    if (!(fw > x1)) break;
  }
  if (clippedToRectangle) gdip::GdipSetClipRegion(graphics, clip.get(), Gdiplus::CombineModeReplace);

  BrushHandle shade = VerticalBrush(b, kProgressShadeTop, kProgressShadeBottom);
  gdip::GdipFillRectangle(graphics, shade.get(), b.x, b.y, fw, b.h);

  const float radius = 0.9f * b.h;
  PathHandle head;
  gdip::GdipCreatePath(Gdiplus::FillModeAlternate, head.put());
  if (head) {
    gdip::GdipAddPathEllipse(head.get(), b.x + fw - radius, b.y + 0.5f * b.h - radius, 2 * radius, 2 * radius);
    BrushHandle glow = PathGlowBrush(head.get(), kHeadGlowCentre, kHeadGlowEdge);
    gdip::GdipFillPath(graphics, glow.get(), head.get());
  }
  gdip::GdipResetClip(graphics);
}

}  // namespace

void PaintButton(Gdiplus::GpGraphics* graphics, const Fonts& fonts, const UiState& ui, RECT button, int pressed,
                 PaintWay way) {
  const double s = ui.dpi / 96.0;
  const ButtonGeometry b{static_cast<float>(button.left),
                         static_cast<float>(button.top),
                         static_cast<float>(button.right - button.left),
                         static_cast<float>(button.bottom - button.top),
                         Scaled(7, s),
                         static_cast<float>(s)};
  const bool active = ButtonIsActive(ui);
  const float h = ui.hoverGlow;

  PathHandle outline = ButtonPath(b);
  if (active) {
    PaintActiveFill(graphics, outline.get(), b, h, pressed);
  } else {
    BrushHandle fill = VerticalBrush(b, kInactiveFillTop, kInactiveFillBottom);
    gdip::GdipFillPath(graphics, fill.get(), outline.get());
  }
  if (ui.phase == Patching) PaintProgressFill(graphics, outline.get(), b, ui.progressPercent, ui.animTime, way);

  PenHandle border = Pen(active ? ActiveBorderColour(h) : kInactiveBorder, 1);
  gdip::GdipDrawPath(graphics, border.get(), outline.get());

  const std::wstring caption = ButtonCaption(ui);
  const Gdiplus::RectF box(b.x, b.y, b.w, b.h);
  if (active) {
    DrawTextLine(graphics, caption, fonts.caption.get(), box, Gdiplus::StringAlignmentCenter, kActiveCaption, way);
  } else {
    const Gdiplus::RectF shadow(b.x + b.s, b.y + b.s, b.w, b.h);
    DrawTextLine(graphics, caption, fonts.caption.get(), shadow, Gdiplus::StringAlignmentCenter, kTextShadow, way);
    DrawTextLine(graphics, caption, fonts.caption.get(), box, Gdiplus::StringAlignmentCenter,
                 ui.phase == Patching ? kPatchingCaption : kInactiveCaption, way);
  }
}

}  // namespace launcher
