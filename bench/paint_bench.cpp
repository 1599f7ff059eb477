// Paint time per frame: PaintScene at the window's 144- and 96-DPI client
// sizes, the same frame split by layer, and beside them a bare GDI+ loop
// that only draws the ready backdrop 1:1 into the same kind of bitmap (the
// floor no frame can go below).
//
//   paint_bench.exe [FRAMES]     default 300
#include <windows.h>

// WIN32_LEAN_AND_MEAN leaves out the COM declarations gdiplus.h builds on.
#include <objidl.h>

#include <gdiplus.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <functional>
#include <string>
#include <vector>

#include "ui/layout.h"
#include "render/effects.h"
#include "render/embedded_assets.h"
#include "render/gdiplus_session.h"
#include "render/paint_target.h"
#include "render/scene.h"
#include "render/scene_layers.h"

namespace launcher {
namespace {

double Median(std::vector<double> v) {
  std::sort(v.begin(), v.end());
  return v.empty() ? 0 : v[v.size() / 2];
}

// Milliseconds of each of `frames` calls of `frame(i)`, median.
double MedianMs(int frames, const std::function<void(int)>& frame) {
  for (int i = 0; i < 5; ++i) frame(i);  // caches, heaps
  std::vector<double> times;
  times.reserve(static_cast<size_t>(frames));
  for (int i = 0; i < frames; ++i) {
    const auto start = std::chrono::steady_clock::now();
    frame(i);
    GdiFlush();
    times.push_back(std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - start).count());
  }
  return Median(times);
}

UiState ReadyScreen(int dpi, int frame) {
  UiState ui;
  ui.phase = Ready;
  ui.installedVersion = L"1.1.3";
  ui.installSize = L"1.2 GB";
  ui.statusText = L"Up to date. Ready to play.";
  ui.dpi = dpi;
  ui.animTime = 3.0 + frame / 30.0;
  return ui;
}

UiState PatchingScreen(int dpi, int frame) {
  UiState ui = ReadyScreen(dpi, frame);
  ui.phase = Patching;
  ui.busy = true;
  ui.progressPercent = 42;
  ui.statusText = L"Downloading: 18 of 42 MB";
  return ui;
}

RECT Button(int dpi) {
  const PixelRect b = ButtonRect(dpi);
  return {b.left, b.top, b.right, b.bottom};
}

// A graphics on the canvas set up as PaintScene sets its own.
GraphicsHandle SceneGraphics(const PaintTarget& canvas) {
  GraphicsHandle graphics;
  gdip::GdipCreateFromHDC(canvas.dc(), graphics.put());
  gdip::GdipSetSmoothingMode(graphics.get(), Gdiplus::SmoothingModeAntiAlias);
  gdip::GdipSetTextRenderingHint(graphics.get(), Gdiplus::TextRenderingHintClearTypeGridFit);
  return graphics;
}

void Frames(int width, int height, int dpi, int frames) {
  // The window paints into an off-screen bitmap compatible with the screen.
  PaintTarget canvas(width, height, PixelStore::ScreenCompatible);
  const double ready = MedianMs(frames, [&](int i) { canvas.Paint(ReadyScreen(dpi, i), 0); });
  const double patching = MedianMs(frames, [&](int i) { canvas.Paint(PatchingScreen(dpi, i), 0); });
  // The floor: a graphics per frame and the ready backdrop drawn 1:1, nothing else.
  Gdiplus::GpBitmap* backdrop = ScaledBackdrop(width, height);
  const double floor = MedianMs(frames, [&](int) {
    Gdiplus::GpGraphics* graphics = nullptr;
    gdip::GdipCreateFromHDC(canvas.dc(), &graphics);
    gdip::GdipDrawImageI(graphics, backdrop, 0, 0);
    gdip::GdipDeleteGraphics(graphics);
  });
  std::printf(
      "%4d x %3d at %3d DPI  ready %7.2f ms  patching %7.2f ms  backdrop-only floor %6.2f ms  (ready %.1f x floor)\n",
      width, height, dpi, ready, patching, floor, floor > 0 ? ready / floor : 0);
}

void Layers(int width, int height, int dpi, int frames) {
  PaintTarget canvas(width, height, PixelStore::ScreenCompatible);
  GraphicsHandle graphics = SceneGraphics(canvas);
  Gdiplus::GpGraphics* g = graphics.get();
  const RECT button = Button(dpi);
  const float s = static_cast<float>(dpi / 96.0);

  struct Layer {
    const char* name;
    std::function<void(int)> paint;
  };
  const Layer layers[] = {
      {"background", [&](int) { PaintBackground(g, width, height); }},
      {"ground glow", [&](int i) { PaintGroundGlow(g, width, height, ReadyScreen(dpi, i).animTime); }},
      {"effects", [&](int i) { PaintEffects(g, width, ReadyScreen(dpi, i).animTime); }},
      {"sparks", [&](int i) { PaintSparks(g, width, height, s, ReadyScreen(dpi, i).animTime); }},
      {"fonts (family + 3 fonts)",
       [&](int) {
         const FontChoice family = ChooseFontFamily();
         const Fonts fonts = FontSet(family, dpi);
       }},
      {"texts (status + versions)",
       [&](int i) {
         const FontChoice family = ChooseFontFamily();
         const Fonts fonts = FontSet(family, dpi);
         PaintStatusLine(g, fonts, ReadyScreen(dpi, i));
         PaintVersionLines(g, fonts, ReadyScreen(dpi, i));
       }},
      {"button, ready",
       [&](int i) {
         const FontChoice family = ChooseFontFamily();
         const Fonts fonts = FontSet(family, dpi);
         PaintButton(g, fonts, ReadyScreen(dpi, i), button, 0);
       }},
      {"button, ready hovered",
       [&](int i) {
         const FontChoice family = ChooseFontFamily();
         const Fonts fonts = FontSet(family, dpi);
         UiState ui = ReadyScreen(dpi, i);
         ui.hoverGlow = 1;
         PaintButton(g, fonts, ui, button, 0);
       }},
      {"button, patching 42%",
       [&](int i) {
         const FontChoice family = ChooseFontFamily();
         const Fonts fonts = FontSet(family, dpi);
         PaintButton(g, fonts, PatchingScreen(dpi, i), button, 0);
       }},
  };
  {
    const FontChoice family = ChooseFontFamily();
    WCHAR name[LF_FACESIZE] = L"(none)";
    if (family.family) gdip::GdipGetFamilyName(family.family, name, LANG_NEUTRAL);
    std::printf("layers at %d x %d, %d DPI, font family %ls (texts and button include the fonts):\n", width, height,
                dpi, name);
  }
  for (const Layer& layer : layers) std::printf("  %-28s %7.2f ms\n", layer.name, MedianMs(frames, layer.paint));
}

}  // namespace
}  // namespace launcher

int wmain(int argc, wchar_t** argv) {
  const int frames = argc > 1 ? std::max(1, _wtoi(argv[1])) : 300;
  const launcher::GdiplusSession gdiplus;
  std::printf("PaintScene per frame, median of %d frames:\n", frames);
  launcher::Frames(840, 510, 144, frames);
  launcher::Frames(560, 340, 96, frames);
  launcher::Layers(840, 510, 144, frames);
  return 0;
}
