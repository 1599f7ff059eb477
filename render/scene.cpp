#include "render/scene.h"

#include <objbase.h>

#include <string>
#include <system_error>

#include "files/thread_name.h"
#include "files/trace.h"
#include "render/backdrop_cache.h"
#include "render/colour.h"
#include "render/effect_math.h"
#include "render/effects.h"
#include "render/fonts.h"
#include "render/kept_objects.h"
#include "render/pictures.h"
#include "render/render_caches.h"
#include "render/scene_layers.h"
#include "resources/launcher_version.h"
#include "ui/layout.h"

namespace launcher {
namespace {

constexpr Argb kNoPictureFill = 0xFF0A0908;
constexpr Argb kShadow = 0xAA000000;
constexpr Argb kStatusColour = 0xFFE8E2D4;
constexpr Argb kErrorColour = 0xFFE8765C;
constexpr Argb kVersionColour = 0xFF968E7E;
constexpr std::uint32_t kGroundGlowRgb = 0x964212;

// A rectangle of the 560 x 340 layout in client pixels.
Gdiplus::RectF LayoutBox(double x, double y, double width, double height, double s) {
  return {Scaled(x, s), Scaled(y, s), Scaled(width, s), Scaled(height, s)};
}

std::wstring VersionLine(const UiState& ui) {
  if (ui.installedVersion.empty()) return L"Not installed yet";
  std::wstring line = L"Installed: version " + ui.installedVersion;
  if (!ui.installSize.empty()) line += L"   \u00B7   " + ui.installSize;
  return line;
}

void FinishPreparing() {
  if (RenderCaches* caches = ActiveRenderCaches()) caches->preparation.Finish();
}

}  // namespace

void PrepareFirstPaint(int dpi) {
  RenderCaches* caches = ActiveRenderCaches();
  if (!caches) return;
  try {
    caches->preparation.Start([dpi] {
      NameThisThread(L"Stonewake first paint");
      // Decoders may be COM objects; this thread has an apartment of its
      // own while it loads, and nothing it made stays tied to it.
      const HRESULT com = CoInitializeEx(nullptr, COINIT_MULTITHREADED);
      // Nothing may leave a thread's entry: an allocation failure while
      // loading would end the process. What did not load, the first paint
      // loads again.
      try {
        ScaledBackdrop(kLayoutWidth * dpi / 96, kLayoutHeight * dpi / 96);
        EffectSprites();
        KeptFonts(dpi);
      } catch (...) {
        TraceCaught(L"preparing the first paint");
      }
      if (SUCCEEDED(com)) CoUninitialize();
    });
  } catch (const std::system_error&) {
    // No thread: the first paint loads everything itself.
    TraceCaught(L"the first paint's preparation thread could not be started");
  }
}

void DrawTextLine(Gdiplus::GpGraphics* graphics, std::wstring_view text, Gdiplus::GpFont* font,
                  const Gdiplus::RectF& box, Gdiplus::StringAlignment alignment, Gdiplus::ARGB colour, PaintWay way) {
  if (way == PaintWay::Economical) {
    Gdiplus::GpStringFormat* format = KeptLineFormat(alignment);
    if (!format) return;
    gdip::GdipDrawString(graphics, text.data(), static_cast<INT>(text.size()), font, &box, format,
                         KeptSolidBrush(colour));
    return;
  }
  StringFormatHandle format = LineFormat(alignment);
  if (!format) return;
  BrushHandle brush = SolidBrush(colour);
  gdip::GdipDrawString(graphics, text.data(), static_cast<INT>(text.size()), font, &box, format.get(), brush.get());
}

void PaintBackground(Gdiplus::GpGraphics* graphics, int width, int height) {
  if (Gdiplus::GpBitmap* backdrop = ScaledBackdrop(width, height)) {
    gdip::GdipDrawImageI(graphics, backdrop, 0, 0);
    return;
  }
  BrushHandle fill = SolidBrush(kNoPictureFill);
  gdip::GdipFillRectangleI(graphics, fill.get(), 0, 0, width, height);
}

void PaintGroundGlow(Gdiplus::GpGraphics* graphics, int width, int height, std::uint32_t alpha) {
  const auto h = static_cast<float>(height);
  BrushHandle glow = LinearBrush({0, h * 0.5f - 1}, {0, h + 1}, kGroundGlowRgb, (alpha << 24) | kGroundGlowRgb);
  gdip::GdipFillRectangle(graphics, glow.get(), 0, h * 0.5f, static_cast<float>(width), h - h * 0.5f);
}

void PaintStatusLine(Gdiplus::GpGraphics* graphics, const Fonts& fonts, const UiState& ui, PaintWay way) {
  const double s = ui.dpi / 96.0;
  const auto one = static_cast<float>(s);
  constexpr PixelRect line = kStatusLineLayout;
  const Gdiplus::RectF box = LayoutBox(line.left, line.top, line.right - line.left, line.bottom - line.top, s);
  const Gdiplus::RectF shadow(box.X + one, box.Y + one, box.Width, box.Height);
  DrawTextLine(graphics, ui.statusText, fonts.status.get(), shadow, Gdiplus::StringAlignmentNear, kShadow, way);
  DrawTextLine(graphics, ui.statusText, fonts.status.get(), box, Gdiplus::StringAlignmentNear,
               ui.statusIsError ? kErrorColour : kStatusColour, way);
}

void PaintVersionLines(Gdiplus::GpGraphics* graphics, const Fonts& fonts, const UiState& ui, PaintWay way) {
  const double s = ui.dpi / 96.0;
  DrawTextLine(graphics, VersionLine(ui), fonts.small.get(), LayoutBox(28, 314, 360, 18, s),
               Gdiplus::StringAlignmentNear, kVersionColour, way);
  DrawTextLine(graphics, std::wstring(L"Launcher ") + LauncherVersionText, fonts.small.get(),
               LayoutBox(332, 314, 200, 18, s), Gdiplus::StringAlignmentFar, kVersionColour, way);
}

void PaintSceneWay(HDC dc, RECT client, const UiState& state, RECT button, int pressed, PaintWay way) {
  const double s = state.dpi / 96.0;
  const int width = client.right - client.left;
  const int height = client.bottom - client.top;
  const double t = state.animTime;
  const std::uint32_t glowAlpha = GroundGlowAlpha(t);
  FinishPreparing();

  // The kept picture is copied in before GDI+ draws on the DC.
  const bool backdropCopied = way == PaintWay::Economical && CopyBackdropWithGlow(dc, width, height, glowAlpha);

  GraphicsHandle graphics;
  if (gdip::GdipCreateFromHDC(dc, graphics.put()) != Gdiplus::Ok || !graphics) return;
  Gdiplus::GpGraphics* g = graphics.get();
  gdip::GdipSetSmoothingMode(g, Gdiplus::SmoothingModeAntiAlias);
  gdip::GdipSetTextRenderingHint(g, Gdiplus::TextRenderingHintClearTypeGridFit);

  if (!backdropCopied) {
    PaintBackground(g, width, height);
    PaintGroundGlow(g, width, height, glowAlpha);
  }
  PaintEffects(g, width, height, t, way);
  PaintSparks(g, width, height, static_cast<float>(s), t, way);

  if (way == PaintWay::Economical) {
    const Fonts& fonts = KeptFonts(state.dpi);
    PaintStatusLine(g, fonts, state, way);
    PaintButton(g, fonts, state, button, pressed, way);
    PaintVersionLines(g, fonts, state, way);
    return;
  }
  const FontChoice family = ChooseFontFamily();
  const Fonts fonts = FontSet(family, state.dpi);
  PaintStatusLine(g, fonts, state, way);
  PaintButton(g, fonts, state, button, pressed, way);
  PaintVersionLines(g, fonts, state, way);
}

void PaintScene(HDC dc, RECT client, const UiState& state, RECT button, int pressed) {
  PaintSceneWay(dc, client, state, button, pressed, PaintWay::Economical);
}

}  // namespace launcher
