// Paint time per frame: PaintScene at the window's 144- and 96-DPI client
// sizes, painted the economical way and the straightforward way, beside a
// bare GDI+ loop that only draws the ready backdrop 1:1 into the same kind
// of bitmap (the floor); the window's whole paint (off-screen DC, bitmap,
// copy) made per frame and kept; the 144-DPI frame split by layer, both ways.
//
//   paint_bench.exe [FRAMES]     default 300
#include <windows.h>

// WIN32_LEAN_AND_MEAN leaves out the COM declarations gdiplus.h builds on.
#include <objidl.h>

#include <gdiplus.h>

#include <algorithm>
#include <chrono>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <functional>
#include <string>
#include <vector>

#include "render/backdrop_cache.h"
#include "render/effect_math.h"
#include "render/effects.h"
#include "render/fonts.h"
#include "render/frame_buffer.h"
#include "render/gdiplus_session.h"
#include "render/kept_objects.h"
#include "render/paint_target.h"
#include "render/pictures.h"
#include "render/scene.h"
#include "render/scene_layers.h"
#include "ui/layout.h"

namespace launcher {
namespace {

double Median(std::vector<double> v) {
  std::sort(v.begin(), v.end());
  return v.empty() ? 0 : v[v.size() / 2];
}

// CPU time this thread has used, in milliseconds.
double ThreadCpuMs() {
  FILETIME created, exited, kernel, user;
  if (!GetThreadTimes(GetCurrentThread(), &created, &exited, &kernel, &user)) return 0;
  auto ms = [](const FILETIME& t) {
    return static_cast<double>(static_cast<std::uint64_t>(t.dwHighDateTime) << 32 | t.dwLowDateTime) / 1e4;
  };
  return ms(kernel) + ms(user);
}

// The CPU time per frame (mean) of the last MedianMs: on a shared machine
// it varies less than the time on the clock.
double lastCpuMs = 0;

// Milliseconds of each of `frames` calls of `frame(i)`, median.
double MedianMs(int frames, const std::function<void(int)>& frame) {
  for (int i = 0; i < 5; ++i) frame(i);  // caches, heaps
  std::vector<double> times;
  times.reserve(static_cast<size_t>(frames));
  const double cpuStart = ThreadCpuMs();
  for (int i = 0; i < frames; ++i) {
    const auto start = std::chrono::steady_clock::now();
    frame(i);
    GdiFlush();
    times.push_back(std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - start).count());
  }
  lastCpuMs = (ThreadCpuMs() - cpuStart) / frames;
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
  struct Figure {
    double ms, cpu;
  };
  auto time = [&](UiState (*screen)(int, int), PaintWay way) {
    const double ms = MedianMs(frames, [&](int i) { canvas.Paint(screen(dpi, i), 0, way); });
    return Figure{ms, lastCpuMs};
  };
  const Figure ready = time(ReadyScreen, PaintWay::Economical);
  const Figure readyPlain = time(ReadyScreen, PaintWay::Straightforward);
  const Figure patching = time(PatchingScreen, PaintWay::Economical);
  const Figure patchingPlain = time(PatchingScreen, PaintWay::Straightforward);
  // The floor: a graphics per frame and the ready backdrop drawn 1:1, nothing else.
  Gdiplus::GpBitmap* backdrop = ScaledBackdrop(width, height);
  const double floor = MedianMs(frames, [&](int) {
    Gdiplus::GpGraphics* graphics = nullptr;
    gdip::GdipCreateFromHDC(canvas.dc(), &graphics);
    gdip::GdipDrawImageI(graphics, backdrop, 0, 0);
    gdip::GdipDeleteGraphics(graphics);
  });
  const double floorCpu = lastCpuMs;
  auto ratio = [floor](double ms) { return floor > 0 ? ms / floor : 0; };
  std::printf("%4d x %3d at %3d DPI  backdrop-only floor %6.2f ms (CPU %.2f ms)\n", width, height, dpi, floor,
              floorCpu);
  auto line = [&](const char* name, const Figure& kept, const Figure& plain) {
    std::printf(
        "  %-9s %6.2f ms (%.1f x floor, CPU %5.2f ms)   straightforward %6.2f ms (%.1f x floor, CPU %5.2f ms)"
        "   CPU saved %.0f %%\n",
        name, kept.ms, ratio(kept.ms), kept.cpu, plain.ms, ratio(plain.ms), plain.cpu,
        plain.cpu > 0 ? 100 * (1 - kept.cpu / plain.cpu) : 0);
  };
  line("ready", ready, readyPlain);
  line("patching", patching, patchingPlain);
}

// The window's whole paint: the frame painted off screen and copied to the
// window's DC (here a bitmap like the screen's), with the DC and bitmap
// made and deleted every frame as the window once did, and kept.
void WindowPath(int width, int height, int dpi, int frames) {
  PaintTarget window(width, height, PixelStore::ScreenCompatible);
  auto madeEachFrame = [&](PaintWay way) {
    return MedianMs(frames, [&](int i) {
      PaintTarget frame(width, height, PixelStore::ScreenCompatible);
      frame.Paint(ReadyScreen(dpi, i), 0, way);
      BitBlt(window.dc(), 0, 0, width, height, frame.dc(), 0, 0, SRCCOPY);
    });
  };
  const double before = madeEachFrame(PaintWay::Straightforward);
  const double beforeCpu = lastCpuMs;
  const double economicalMade = madeEachFrame(PaintWay::Economical);
  const double economicalMadeCpu = lastCpuMs;
  FrameBuffer kept;
  const double now = MedianMs(frames, [&](int i) { kept.Present(window.dc(), width, height, ReadyScreen(dpi, i), 0); });
  const double nowCpu = lastCpuMs;
  // The copy alone, and making and deleting an empty DC and bitmap.
  PaintTarget source(width, height, PixelStore::ScreenCompatible);
  const double copy =
      MedianMs(frames, [&](int) { BitBlt(window.dc(), 0, 0, width, height, source.dc(), 0, 0, SRCCOPY); });
  const double make = MedianMs(frames, [&](int) { PaintTarget frame(width, height, PixelStore::ScreenCompatible); });
  std::printf(
      "window paint at %3d DPI, ready (paint, copy):\n"
      "  straightforward, DC + bitmap made per frame (before) %7.2f ms (CPU %.2f ms)\n"
      "  economical, DC + bitmap made per frame               %7.2f ms (CPU %.2f ms)\n"
      "  economical, DC + bitmap kept (the window now)        %7.2f ms (CPU %.2f ms)\n"
      "  the copy alone %.2f ms; an empty DC + bitmap made and deleted %.2f ms\n",
      dpi, before, beforeCpu, economicalMade, economicalMadeCpu, now, nowCpu, copy, make);
}

void Layers(int width, int height, int dpi, int frames) {
  PaintTarget canvas(width, height, PixelStore::ScreenCompatible);
  GraphicsHandle graphics = SceneGraphics(canvas);
  Gdiplus::GpGraphics* g = graphics.get();
  const RECT button = Button(dpi);
  const float s = static_cast<float>(dpi / 96.0);
  constexpr PaintWay kPlain = PaintWay::Straightforward;
  constexpr PaintWay kKept = PaintWay::Economical;

  struct Layer {
    const char* name;
    std::function<void(int)> straightforward;
    std::function<void(int)> economical;
  };
  auto glowAlpha = [&](int i) { return GroundGlowAlpha(ReadyScreen(dpi, i).animTime); };
  auto fresh = [&](const std::function<void(const Fonts&)>& paint) {
    const FontChoice family = ChooseFontFamily();
    const Fonts fonts = FontSet(family, dpi);
    paint(fonts);
  };
  const Layer layers[] = {
      {"background + ground glow",
       [&](int i) {
         PaintBackground(g, width, height);
         PaintGroundGlow(g, width, height, glowAlpha(i));
       },
       [&](int i) { CopyBackdropWithGlow(canvas.dc(), width, height, glowAlpha(i)); }},
      {"effects", [&](int i) { PaintEffects(g, width, height, ReadyScreen(dpi, i).animTime, kPlain); },
       [&](int i) { PaintEffects(g, width, height, ReadyScreen(dpi, i).animTime, kKept); }},
      {"sparks", [&](int i) { PaintSparks(g, width, height, s, ReadyScreen(dpi, i).animTime, kPlain); },
       [&](int i) { PaintSparks(g, width, height, s, ReadyScreen(dpi, i).animTime, kKept); }},
      {"fonts (family + 3 fonts)", [&](int) { fresh([](const Fonts&) {}); }, [&](int) { KeptFonts(dpi); }},
      {"texts (status + versions)",
       [&](int i) {
         fresh([&](const Fonts& fonts) {
           PaintStatusLine(g, fonts, ReadyScreen(dpi, i), kPlain);
           PaintVersionLines(g, fonts, ReadyScreen(dpi, i), kPlain);
         });
       },
       [&](int i) {
         PaintStatusLine(g, KeptFonts(dpi), ReadyScreen(dpi, i), kKept);
         PaintVersionLines(g, KeptFonts(dpi), ReadyScreen(dpi, i), kKept);
       }},
      {"button, ready",
       [&](int i) {
         fresh([&](const Fonts& fonts) { PaintButton(g, fonts, ReadyScreen(dpi, i), button, 0, kPlain); });
       },
       [&](int i) { PaintButton(g, KeptFonts(dpi), ReadyScreen(dpi, i), button, 0, kKept); }},
      {"button, patching 42%",
       [&](int i) {
         fresh([&](const Fonts& fonts) { PaintButton(g, fonts, PatchingScreen(dpi, i), button, 0, kPlain); });
       },
       [&](int i) { PaintButton(g, KeptFonts(dpi), PatchingScreen(dpi, i), button, 0, kKept); }},
  };
  {
    const FontChoice family = ChooseFontFamily();
    WCHAR name[LF_FACESIZE] = L"(none)";
    if (family.family) gdip::GdipGetFamilyName(family.family, name, LANG_NEUTRAL);
    std::printf("layers at %d x %d, %d DPI, font family %ls (texts and button include the fonts):\n", width, height,
                dpi, name);
  }
  std::printf("  %-28s %27s %27s\n", "", "straightforward", "economical");
  for (const Layer& layer : layers) {
    const double plain = MedianMs(frames, layer.straightforward);
    const double plainCpu = lastCpuMs;
    const double kept = MedianMs(frames, layer.economical);
    std::printf("  %-28s %8.2f ms (CPU %6.2f ms) %8.2f ms (CPU %6.2f ms)\n", layer.name, plain, plainCpu, kept,
                lastCpuMs);
  }
  const BackdropCacheUse use = BackdropCacheInUse();
  std::printf("  backdrop pictures kept: %d, %.1f MiB (budget %.0f MiB)\n", use.pictures, use.bytes / 1048576.0,
              kBackdropCacheBudget / 1048576.0);
}

// The first frame of a fresh process, as the window's first paint meets
// it: every picture and font loaded on the way. Run first, before anything
// is cached.
void FirstFrame(int width, int height, int dpi) {
  using Clock = std::chrono::steady_clock;
  auto since = [](Clock::time_point start) {
    return std::chrono::duration<double, std::milli>(Clock::now() - start).count();
  };
  auto start = Clock::now();
  LoadResourceBitmap(kBackdropResource, 0, 0);
  const double natural = since(start);
  start = Clock::now();
  LoadResourceBitmap(kBackdropResource, 0, 0);
  const double naturalAgain = since(start);
  start = Clock::now();
  ScaledBackdrop(width, height);
  const double backdrop = since(start);
  start = Clock::now();
  EffectSprites();
  const double sprites = since(start);
  start = Clock::now();
  KeptFonts(dpi);
  const double fonts = since(start);
  PaintTarget window(width, height, PixelStore::ScreenCompatible);
  FrameBuffer frame;
  start = Clock::now();
  frame.Present(window.dc(), width, height, ReadyScreen(dpi, 0), 0);
  GdiFlush();
  const double first = since(start);
  start = Clock::now();
  frame.Present(window.dc(), width, height, ReadyScreen(dpi, 1), 0);
  GdiFlush();
  const double second = since(start);
  std::printf(
      "first frame of a fresh process at %d DPI: backdrop decoded and drawn 1:1 %.1f ms (again %.1f ms), decoded and "
      "resampled to the client %.1f ms, sprites %.1f ms, font "
      "family and fonts %.1f ms, then the first frame %.1f ms (its backdrop picture painted), the next %.1f ms\n",
      dpi, natural, naturalAgain, backdrop, sprites, fonts, first, second);
}

}  // namespace
}  // namespace launcher

int wmain(int argc, wchar_t** argv) {
  const int frames = argc > 1 ? std::max(1, _wtoi(argv[1])) : 300;
  const launcher::GdiplusSession gdiplus;
  launcher::FirstFrame(560, 340, 96);
  std::printf("PaintScene per frame, median of %d frames:\n", frames);
  launcher::Frames(840, 510, 144, frames);
  launcher::Frames(560, 340, 96, frames);
  launcher::WindowPath(840, 510, 144, frames);
  launcher::WindowPath(560, 340, 96, frames);
  launcher::Layers(840, 510, 144, frames);
  return 0;
}
