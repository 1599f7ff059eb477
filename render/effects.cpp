#include "render/effects.h"

#include <algorithm>

#include "render/effect_math.h"
#include "render/pictures.h"

namespace launcher {
namespace {

void FillGlow(Gdiplus::GpGraphics* graphics, const RectF32& box, Argb centre) {
  PathHandle path;
  gdip::GdipCreatePath(Gdiplus::FillModeAlternate, path.put());
  if (!path) return;
  gdip::GdipAddPathEllipse(path.get(), box.x, box.y, box.width, box.height);
  BrushHandle brush = PathGlowBrush(path.get(), centre, centre & 0x00FFFFFFu);
  gdip::GdipFillPath(graphics, brush.get(), path.get());
}

// A colour matrix with only its diagonal set.
Gdiplus::ColorMatrix Diagonal(float red, float green, float blue, float alpha) {
  Gdiplus::ColorMatrix matrix{};
  matrix.m[0][0] = red;
  matrix.m[1][1] = green;
  matrix.m[2][2] = blue;
  matrix.m[3][3] = alpha;
  matrix.m[4][4] = 1;
  return matrix;
}

// Draws `source` of `sprite` into `destination` through a colour matrix.
void DrawTinted(Gdiplus::GpGraphics* graphics, Gdiplus::GpBitmap* sprite, const RectF32& source,
                const RectF32& destination, const Gdiplus::ColorMatrix& matrix, bool tileFlipped) {
  ImageAttributesHandle attributes;
  gdip::GdipCreateImageAttributes(attributes.put());
  if (!attributes) return;
  if (tileFlipped)
    gdip::GdipSetImageAttributesWrapMode(attributes.get(), Gdiplus::WrapModeTileFlipXY, 0xFF000000, FALSE);
  gdip::GdipSetImageAttributesColorMatrix(attributes.get(), Gdiplus::ColorAdjustTypeDefault, TRUE, &matrix, nullptr,
                                          Gdiplus::ColorMatrixFlagsDefault);
  gdip::GdipDrawImageRectRect(graphics, sprite, destination.x, destination.y, destination.width, destination.height,
                              source.x, source.y, source.width, source.height, Gdiplus::UnitPixel, attributes.get(),
                              nullptr, nullptr);
}

// Puts the interpolation mode back however the drawing went.
class InterpolationScope {
 public:
  InterpolationScope(Gdiplus::GpGraphics* graphics, Gdiplus::InterpolationMode mode) : graphics_(graphics) {
    gdip::GdipGetInterpolationMode(graphics_, &saved_);
    gdip::GdipSetInterpolationMode(graphics_, mode);
  }
  ~InterpolationScope() { gdip::GdipSetInterpolationMode(graphics_, saved_); }
  InterpolationScope(const InterpolationScope&) = delete;
  InterpolationScope& operator=(const InterpolationScope&) = delete;

 private:
  Gdiplus::GpGraphics* graphics_;
  Gdiplus::InterpolationMode saved_ = Gdiplus::InterpolationModeDefault;
};

// True when nothing drawn inside `box` can reach a pixel of the client
// area. Antialiasing and bilinear filtering touch at most the pixel beyond
// each edge; two pixels of margin leave room for rounding.
bool WhollyOutside(const RectF32& box, int width, int height) {
  constexpr float kMargin = 2;
  const float left = std::min(box.x, box.x + box.width);
  const float right = std::max(box.x, box.x + box.width);
  const float top = std::min(box.y, box.y + box.height);
  const float bottom = std::max(box.y, box.y + box.height);
  return right < -kMargin || bottom < -kMargin || left > static_cast<float>(width) + kMargin ||
         top > static_cast<float>(height) + kMargin;
}

}  // namespace

void PaintEffects(Gdiplus::GpGraphics* graphics, int width, int height, double t, PaintWay way) {
  const Sprites sprites = EffectSprites();
  if (!sprites.strip || !sprites.wisp) return;
  const float tt = EffectTime(t);
  const float m = PictureScale(width);
  InterpolationScope bilinear(graphics, Gdiplus::InterpolationModeBilinear);

  const Glow hearth = HearthGlow(m, tt);
  FillGlow(graphics, hearth.box, hearth.centre);

  UINT stripWidth = 0, stripHeight = 0;
  gdip::GdipGetImageWidth(sprites.strip, &stripWidth);
  gdip::GdipGetImageHeight(sprites.strip, &stripHeight);
  for (int i = 0; i < kStripSlices; ++i) {
    const StripSlice slice = StripSliceAt(i, static_cast<float>(stripWidth), static_cast<float>(stripHeight), m, tt);
    const float f = slice.flicker;
    DrawTinted(graphics, sprites.strip, slice.source, slice.destination,
               Diagonal(1, 0.59f + 0.41f * f, 0.47f + 0.53f * f, f), true);
  }

  const Glow beacon = BeaconGlow(m, tt);
  FillGlow(graphics, beacon.box, beacon.centre);

  UINT wispWidth = 0, wispHeight = 0;
  gdip::GdipGetImageWidth(sprites.wisp, &wispWidth);
  gdip::GdipGetImageHeight(sprites.wisp, &wispHeight);
  const RectF32 wholeWisp{0, 0, static_cast<float>(wispWidth), static_cast<float>(wispHeight)};
  for (int k = 0; k < kSmokeSources; ++k) {
    for (int j = 0; j < kWispsPerSource; ++j) {
      const WispDraw wisp = WispAt(k, j, m, tt);
      if (way == PaintWay::Economical && WhollyOutside(wisp.destination, width, height)) continue;
      DrawTinted(graphics, sprites.wisp, wholeWisp, wisp.destination,
                 Diagonal(wisp.red, wisp.green, wisp.blue, wisp.alpha), false);
    }
  }
}

void PaintSparks(Gdiplus::GpGraphics* graphics, int width, int height, float s, double t, PaintWay way) {
  const bool economical = way == PaintWay::Economical;
  for (int i = 0; i < kSparks; ++i) {
    const SparkDraw spark = SparkAt(i, width, height, s, t);
    const float k = spark.radius;
    const RectF32 glow{spark.x - 3.2f * k, spark.y - 3.2f * k, 6.4f * k, 6.4f * k};
    // The core lies inside the glow's box.
    if (economical && WhollyOutside(glow, width, height)) continue;
    // A colour of alpha 0 blends to the pixel it covers.
    if (!economical || spark.glowAlpha != 0) FillGlow(graphics, glow, (spark.glowAlpha << 24) | kSparkGlowRgb);
    if (economical && spark.coreAlpha == 0) continue;
    BrushHandle core = SolidBrush((spark.coreAlpha << 24) | kSparkCoreRgb);
    gdip::GdipFillEllipse(graphics, core.get(), spark.x - k, spark.y - k, 2 * k, 2 * k);
  }
}

}  // namespace launcher
