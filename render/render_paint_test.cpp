// The painter against the launcher's own resources, under Wine: loading,
// the one-slot backdrop, the font choice, the economical way of painting
// against the straightforward one, the window's kept frame, and long paint
// loops that must not leak.
#include <windows.h>

#include <psapi.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <set>
#include <string>
#include <thread>
#include <utility>
#include <vector>

#include "render/backdrop_cache.h"
#include "render/effect_math.h"
#include "render/fonts.h"
#include "render/frame_buffer.h"
#include "render/gdiplus_session.h"
#include "render/paint_target.h"
#include "render/pictures.h"
#include "render/render_caches.h"
#include "render/scene.h"
#include "test_support/gdiplus_environment.h"
#include "ui/animation.h"
#include "ui/layout.h"

namespace launcher {
namespace {

// The painter's caches go before GDI+ stops, as in the launcher.
[[maybe_unused]] auto* const kGdiplus = ::testing::AddGlobalTestEnvironment(new testing::GdiplusEnvironment);

struct Size {
  UINT width, height;
};
Size SizeOf(Gdiplus::GpBitmap* bitmap) {
  Size size{0, 0};
  gdip::GdipGetImageWidth(bitmap, &size.width);
  gdip::GdipGetImageHeight(bitmap, &size.height);
  return size;
}

TEST(CarriedAssets, LoadResourceBitmapScalesOrKeepsTheNaturalSize) {
  struct Case {
    const char* name;
    WORD id;
    int width, height;
    UINT expectedWidth, expectedHeight;  // 0: no bitmap
  };
  const Case kCases[] = {
      {"background, width 0 ignores the height", kBackdropResource, 0, 480, 1120, 680},
      {"background at the 96-DPI client size", kBackdropResource, 560, 340, 560, 340},
      {"strip at twice its size", kStripResource, 344, 42, 344, 42},
      {"wisp at its own size", kWispResource, -1, 0, 128, 128},
      {"no such resource", 999, 0, 0, 0, 0},
      {"a font is no picture", kGelasioRegularResource, 0, 0, 0, 0},
  };
  for (const auto& c : kCases) {
    SCOPED_TRACE(c.name);
    BitmapHandle bitmap = LoadResourceBitmap(c.id, c.width, c.height);
    if (c.expectedWidth == 0) {
      EXPECT_FALSE(bitmap);
      continue;
    }
    ASSERT_TRUE(bitmap);
    const Size size = SizeOf(bitmap.get());
    EXPECT_EQ(size.width, c.expectedWidth);
    EXPECT_EQ(size.height, c.expectedHeight);
    Gdiplus::PixelFormat format = 0;
    gdip::GdipGetImagePixelFormat(bitmap.get(), &format);
    EXPECT_EQ(format, PixelFormat32bppPARGB);
  }
}

TEST(CarriedAssets, BackdropKeepsOneSizeAtATime) {
  Gdiplus::GpBitmap* first = ScaledBackdrop(840, 510);
  ASSERT_NE(first, nullptr);
  EXPECT_EQ(ScaledBackdrop(840, 510), first);
  Gdiplus::GpBitmap* other = ScaledBackdrop(560, 340);
  ASSERT_NE(other, nullptr);
  EXPECT_EQ(SizeOf(other).width, 560u);
  EXPECT_EQ(SizeOf(other).height, 340u);
  Gdiplus::GpBitmap* again = ScaledBackdrop(840, 510);
  ASSERT_NE(again, nullptr);
  EXPECT_EQ(SizeOf(again).width, 840u);
  EXPECT_EQ(ScaledBackdrop(0, 0) != nullptr && SizeOf(ScaledBackdrop(0, 0)).width == 1120u, true);
}

// Threads that start painting together each get the one set of sprites
// and the one Gelasio: before, a thread could find the "made" flag already
// set by another that was still loading, and draw with nothing, or make its
// own and free the other's.
TEST(CarriedAssets, ThreadsStartingTogetherShareWhatIsMadeOnce) {
  constexpr int kThreads = 8;
  for (int round = 0; round < 10; ++round) {
    ReleaseRenderCaches();
    std::atomic<int> waiting{kThreads};
    std::vector<Sprites> seen(kThreads);
    std::vector<std::wstring> families(kThreads);
    std::vector<std::thread> threads;
    for (int i = 0; i < kThreads; ++i) {
      threads.emplace_back([&, i] {
        --waiting;
        while (waiting > 0) std::this_thread::yield();
        seen[i] = EffectSprites();
        const FontChoice choice = ChooseFontFamily();
        WCHAR name[LF_FACESIZE] = {};
        if (choice.family) gdip::GdipGetFamilyName(choice.family, name, LANG_NEUTRAL);
        families[i] = name;
      });
    }
    for (std::thread& thread : threads) thread.join();
    for (int i = 0; i < kThreads; ++i) {
      SCOPED_TRACE("round " + std::to_string(round) + ", thread " + std::to_string(i));
      EXPECT_NE(seen[i].strip, nullptr);
      EXPECT_EQ(seen[i].strip, seen[0].strip);
      EXPECT_EQ(seen[i].wisp, seen[0].wisp);
      EXPECT_EQ(families[i], L"Gelasio");
    }
  }
  ReleaseRenderCaches();
}

TEST(CarriedAssets, SpritesAndFontsAreThere) {
  const Sprites sprites = EffectSprites();
  ASSERT_NE(sprites.strip, nullptr);
  ASSERT_NE(sprites.wisp, nullptr);
  EXPECT_EQ(SizeOf(sprites.strip).width, 172u);
  EXPECT_EQ(SizeOf(sprites.wisp).height, 128u);
  EXPECT_EQ(EffectSprites().strip, sprites.strip);

  // The test prefix has neither Georgia nor Segoe UI: the scene's text is
  // Gelasio, found in the private collection.
  const FontChoice choice = ChooseFontFamily();
  ASSERT_NE(choice.family, nullptr);
  WCHAR name[LF_FACESIZE] = {};
  gdip::GdipGetFamilyName(choice.family, name, LANG_NEUTRAL);
  EXPECT_STREQ(name, L"Gelasio");
  const Fonts fonts = FontSet(choice, 144);
  ASSERT_TRUE(fonts.status && fonts.caption && fonts.small);
  Gdiplus::REAL size = 0;
  gdip::GdipGetFontSize(fonts.caption.get(), &size);
  EXPECT_FLOAT_EQ(size, 27.0f);
  INT style = -1;
  gdip::GdipGetFontStyle(fonts.caption.get(), &style);
  EXPECT_EQ(style, Gdiplus::FontStyleBold);
}

// A 32-bit top-down DIB section of the client size to paint into.
class Canvas {
 public:
  Canvas(int width, int height)
      : size_(static_cast<size_t>(width) * height), target_(width, height, PixelStore::TopDownDib) {
    EXPECT_TRUE(target_);
  }
  void Paint(const UiState& state, int pressed, PaintWay way = PaintWay::Economical) {
    target_.Paint(state, pressed, way);
  }
  std::vector<std::uint32_t> Pixels() const { return {target_.pixels(), target_.pixels() + size_}; }
  HDC Dc() const { return target_.dc(); }

 private:
  size_t size_;
  PaintTarget target_;
};

UiState Screen(int frame) {
  UiState state;
  state.dpi = 96;
  state.installedVersion = L"1.1.3";
  state.installSize = L"1.2 GB";
  state.statusText = L"Downloading: 5 of 42 MB";
  state.animTime = frame / 30.0;
  // Every look of the button in turn: active with the halo, pressed,
  // inactive, and the progress fill.
  switch (frame % 4) {
    case 0:
      state.phase = Ready;
      state.hoverGlow = 1;
      break;
    case 1:
      state.phase = Patch;
      break;
    case 2:
      state.phase = Checking;
      state.busy = true;
      break;
    default:
      state.phase = Patching;
      state.busy = true;
      state.progressPercent = frame % 101;
      break;
  }
  return state;
}

std::uint64_t PrivateBytes() {
  PROCESS_MEMORY_COUNTERS_EX counters{};
  counters.cb = sizeof(counters);
  GetProcessMemoryInfo(GetCurrentProcess(), reinterpret_cast<PROCESS_MEMORY_COUNTERS*>(&counters), sizeof(counters));
  return counters.PrivateUsage;
}

// Bytes in use on the process heap, where GDI+ keeps its objects.
std::uint64_t HeapBytesInUse() {
  HANDLE heap = GetProcessHeap();
  std::uint64_t total = 0;
  HeapLock(heap);
  PROCESS_HEAP_ENTRY entry{};
  while (HeapWalk(heap, &entry)) {
    if (entry.wFlags & PROCESS_HEAP_ENTRY_BUSY) total += entry.cbData;
  }
  HeapUnlock(heap);
  return total;
}

DWORD Handles() {
  DWORD count = 0;
  GetProcessHandleCount(GetCurrentProcess(), &count);
  return count;
}

// The caches belong to the session that started GDI+ first. A session made
// while it runs (a test program's own, a preview inside the launcher) must
// neither replace them nor free them when it ends: the painter would then
// draw with pictures freed under it.
TEST(GdiplusSession, AnInnerSessionLeavesTheRunningSessionsCachesAlone) {
  RenderCaches* const running = ActiveRenderCaches();
  ASSERT_NE(running, nullptr);
  Gdiplus::GpBitmap* const backdrop = ScaledBackdrop(840, 510);
  ASSERT_NE(backdrop, nullptr);
  {
    const GdiplusSession inner;
    EXPECT_TRUE(inner.started());
    EXPECT_EQ(ActiveRenderCaches(), running);
  }
  EXPECT_EQ(ActiveRenderCaches(), running);
  EXPECT_EQ(ScaledBackdrop(840, 510), backdrop);
  UINT width = 0;
  EXPECT_EQ(gdip::GdipGetImageWidth(backdrop, &width), Gdiplus::Ok);
  EXPECT_EQ(width, 840u);
}

TEST(PaintScene, ThousandsOfFramesKeepHandlesAndMemoryFlat) {
  Canvas canvas(560, 340);
  // Warm up: caches loaded (the backdrop for every glow alpha takes one
  // period of the glow, 7.5 s), heaps grown to their working size.
  for (int frame = 0; frame < 300; ++frame) canvas.Paint(Screen(frame), frame % 8 == 0);
  const std::uint64_t memoryBefore = PrivateBytes();
  const std::uint64_t heapBefore = HeapBytesInUse();
  const DWORD handlesBefore = Handles();
  const DWORD gdiBefore = GetGuiResources(GetCurrentProcess(), GR_GDIOBJECTS);

  constexpr int kFrames = 2000;
  for (int frame = 300; frame < 300 + kFrames; ++frame) canvas.Paint(Screen(frame), frame % 8 == 0);

  // One brush left behind per text and frame grows the heap by tens of
  // kilobytes here (Wine does not count heap growth in private bytes; Windows does).
  const std::int64_t heapGrown = static_cast<std::int64_t>(HeapBytesInUse()) - static_cast<std::int64_t>(heapBefore);
  EXPECT_LT(heapGrown, 4096) << "heap grew by " << heapGrown;
  const std::int64_t grown = static_cast<std::int64_t>(PrivateBytes()) - static_cast<std::int64_t>(memoryBefore);
  EXPECT_LT(grown, 1 << 20) << "private bytes grew by " << grown;
  EXPECT_LE(Handles(), handlesBefore);
  // Counts GDI objects on Windows only: under Wine GetGuiResources reads 0
  // before and after, so there the heap check above is what catches a GDI+
  // object left behind per frame, and FrameBuffer's test below follows the
  // window's own DC and bitmap by their handles.
  EXPECT_LE(GetGuiResources(GetCurrentProcess(), GR_GDIOBJECTS), gdiBefore);
}

TEST(PaintScene, SameStateSamePictureAlsoAfterTheCachesAreReleased) {
  UiState state = Screen(3);
  Canvas a(840, 510), b(840, 510);
  state.dpi = 144;
  a.Paint(state, 0);
  ReleaseRenderCaches();
  b.Paint(state, 0);
  EXPECT_EQ(a.Pixels(), b.Pixels());
}

TEST(PaintScene, PreparedFirstPaintIsTheSamePicture) {
  // Prepared for the DPI painted and for another; a release right after a
  // preparation waits for it instead of freeing what it is still making.
  PrepareFirstPaint(144);
  ReleaseRenderCaches();
  for (const auto& [prepared, painted] : {std::pair{144, 144}, std::pair{144, 96}, std::pair{96, 96}}) {
    SCOPED_TRACE("prepared at " + std::to_string(prepared) + " dpi, painted at " + std::to_string(painted));
    UiState state = Screen(3);
    state.dpi = painted;
    const RECT client = {0, 0, kLayoutWidth * painted / 96, kLayoutHeight * painted / 96};
    Canvas straightforward(client.right, client.bottom), economical(client.right, client.bottom);
    straightforward.Paint(state, 0, PaintWay::Straightforward);
    ReleaseRenderCaches();
    PrepareFirstPaint(prepared);
    economical.Paint(state, 0);
    EXPECT_EQ(straightforward.Pixels(), economical.Pixels());
  }
  ReleaseRenderCaches();
}

// The client size at `dpi`, as the window sizes its client area.
RECT ClientAt(int dpi) { return {0, 0, kLayoutWidth * dpi / 96, kLayoutHeight * dpi / 96}; }

// Pixels of `state` painted the given way into a fresh DIB of the client
// size at state.dpi.
std::vector<std::uint32_t> Painted(const UiState& state, int pressed, PaintWay way) {
  const RECT client = ClientAt(state.dpi);
  Canvas canvas(client.right, client.bottom);
  canvas.Paint(state, pressed, way);
  return canvas.Pixels();
}

// The first pixel where two pictures differ, for a readable failure.
std::string FirstDifference(const std::vector<std::uint32_t>& a, const std::vector<std::uint32_t>& b, int width) {
  if (a.size() != b.size()) return "sizes differ";
  for (size_t i = 0; i < a.size(); ++i) {
    if (a[i] != b[i]) {
      char text[96];
      std::snprintf(text, sizeof text, "first at (%d, %d): %08x vs %08x", static_cast<int>(i % width),
                    static_cast<int>(i / width), a[i], b[i]);
      return text;
    }
  }
  return "none";
}

TEST(EconomicalPainting, ProgressFillIsTheStraightforwardOneAtEveryDpiAndPercent) {
  // The strips of the button's straight section are clipped to a rectangle,
  // those at the rounded ends to the outline; the head glow and the shade
  // keep the outline. Percents put the fill's end in the left corner, on
  // the boundary of the straight section, in the middle and in the right
  // corner.
  for (int dpi : {96, 120, 144}) {
    for (int percent : {1, 2, 3, 4, 5, 13, 42, 50, 77, 96, 97, 98, 99, 100}) {
      SCOPED_TRACE("dpi " + std::to_string(dpi) + ", " + std::to_string(percent) + "%");
      UiState state = Screen(3);
      state.dpi = dpi;
      state.progressPercent = percent;
      state.animTime = 0.7 * percent;
      const auto economical = Painted(state, 0, PaintWay::Economical);
      const auto straightforward = Painted(state, 0, PaintWay::Straightforward);
      EXPECT_TRUE(economical == straightforward) << FirstDifference(economical, straightforward, ClientAt(dpi).right);
    }
  }
}

TEST(EconomicalPainting, SparksAndWispsLeftOutChangeNoPixel) {
  // Times at which sparks are born or die (alpha 0) and wisps rise past
  // the top edge, at both window sizes; the cached backdrop is taken out
  // of the comparison by painting the straightforward way first.
  for (int dpi : {96, 144}) {
    for (double t : {0.0, 1.3, 4.9, 8.75, 17.2, 33.3, 61.0, 127.4}) {
      SCOPED_TRACE("dpi " + std::to_string(dpi) + ", t " + std::to_string(t));
      UiState state = Screen(0);
      state.dpi = dpi;
      state.hoverGlow = 0;
      state.animTime = t;
      const auto straightforward = Painted(state, 0, PaintWay::Straightforward);
      const auto economical = Painted(state, 0, PaintWay::Economical);
      EXPECT_TRUE(economical == straightforward) << FirstDifference(economical, straightforward, ClientAt(dpi).right);
    }
  }
}

TEST(EconomicalPainting, AGlowBelowTheRestThresholdLooksLikeNoGlow) {
  // The animation sets a fading glow below kGlowAtRest to 0: no pixel may
  // tell the two apart, pressed or not, at either size.
  for (int dpi : {96, 144}) {
    for (int pressed : {0, 1}) {
      SCOPED_TRACE("dpi " + std::to_string(dpi) + ", pressed " + std::to_string(pressed));
      UiState state = Screen(0);
      state.dpi = dpi;
      state.hoverGlow = 0;
      const auto atRest = Painted(state, pressed, PaintWay::Straightforward);
      state.hoverGlow = std::nextafter(kGlowAtRest, 0.0f);
      const auto justAbove = Painted(state, pressed, PaintWay::Straightforward);
      EXPECT_TRUE(atRest == justAbove) << FirstDifference(atRest, justAbove, ClientAt(dpi).right);
      // A glow that shows is not mistaken for rest.
      state.hoverGlow = 0.05f;
      EXPECT_FALSE(atRest == Painted(state, pressed, PaintWay::Straightforward));
    }
  }
}

TEST(BackdropCache, StaysWithinItsBudgetWhileTheSizeChanges) {
  ReleaseRenderCaches();
  const std::uint64_t memoryBefore = PrivateBytes();
  // A long run through every glow alpha at four window sizes, twice: 192
  // DPI holds fewer pictures than there are alphas, so the least recently
  // used go.
  std::size_t mostBytes = 0;
  for (int round = 0; round < 2; ++round) {
    for (int dpi : {96, 144, 192, 120}) {
      const RECT client = ClientAt(dpi);
      PaintTarget target(client.right, client.bottom, PixelStore::ScreenCompatible);
      ASSERT_TRUE(target);
      std::set<std::uint32_t> alphas;
      for (int frame = 0; frame < 240; frame += 3) {
        UiState state = Screen(0);
        state.dpi = dpi;
        state.animTime = frame / 30.0;
        alphas.insert(GroundGlowAlpha(state.animTime));
        target.Paint(state, 0);
        const BackdropCacheUse use = BackdropCacheInUse();
        ASSERT_LE(use.bytes, kBackdropCacheBudget);
        mostBytes = std::max(mostBytes, use.bytes);
      }
      const BackdropCacheUse use = BackdropCacheInUse();
      // One picture per glow alpha painted, as far as the budget allows.
      const std::size_t picture = static_cast<std::size_t>(client.right) * client.bottom * 4;
      EXPECT_GE(alphas.size(), 15u);
      EXPECT_EQ(use.pictures, static_cast<int>(std::min(alphas.size(), kBackdropCacheBudget / picture)))
          << "at " << dpi << " DPI";
    }
  }
  EXPECT_GT(mostBytes, 0u);
  // What the process holds follows: pictures of an old size are let go.
  const std::int64_t grown = static_cast<std::int64_t>(PrivateBytes()) - static_cast<std::int64_t>(memoryBefore);
  EXPECT_LT(grown, static_cast<std::int64_t>(kBackdropCacheBudget + (8u << 20))) << "private bytes grew by " << grown;
  ReleaseRenderCaches();
  EXPECT_EQ(BackdropCacheInUse().pictures, 0);
  EXPECT_EQ(BackdropCacheInUse().bytes, 0u);
}

// GetGuiResources reads 0 under Wine, so the frame's own DC and bitmap are
// followed by their handles: a deleted GDI object has no type any more.
bool Deleted(HGDIOBJ object) { return GetObjectType(object) == 0; }

TEST(FrameBuffer, KeepsOneFrameAndDeletesEveryOneItReplaces) {
  PaintTarget window(700, 425, PixelStore::ScreenCompatible);
  ASSERT_TRUE(window);
  std::vector<HGDIOBJ> replaced;
  int remade = 0;
  {
    FrameBuffer frame;
    HDC dc = nullptr;
    HBITMAP bitmap = nullptr;
    // Thousands of frames; the DPI changes every second frame, so the
    // frame is made and deleted a thousand times and kept for the frame in
    // between. The size stays (a small one keeps the run short): a new DPI
    // alone moves the button, and the backdrop is not resampled each time.
    constexpr int kFrames = 2000;
    constexpr int kFramesPerDpi = 2;
    const RECT client = ClientAt(48);
    for (int i = 0; i < kFrames; ++i) {
      UiState state = Screen(i);
      state.dpi = (i / kFramesPerDpi) % 2 == 0 ? 48 : 49;
      ASSERT_TRUE(frame.Present(window.dc(), client.right, client.bottom, state, 0)) << "frame " << i;
      if (frame.bitmap() != bitmap || frame.dc() != dc) {
        if (bitmap) {
          replaced.push_back(bitmap);
          replaced.push_back(dc);
          EXPECT_TRUE(Deleted(bitmap) && Deleted(dc)) << "frame " << i << " left the old DC or bitmap behind";
        }
        ++remade;
        bitmap = frame.bitmap();
        dc = frame.dc();
      }
    }
    EXPECT_EQ(remade, kFrames / kFramesPerDpi) << "made again without a change, or kept across one";
    // Another size is a change too.
    UiState state = Screen(0);
    state.dpi = 72;
    const RECT last = ClientAt(72);
    ASSERT_TRUE(frame.Present(window.dc(), last.right, last.bottom, state, 0));
    EXPECT_NE(frame.bitmap(), bitmap);
    EXPECT_TRUE(Deleted(bitmap));
    bitmap = frame.bitmap();
    dc = frame.dc();
    frame.Release();
    EXPECT_TRUE(Deleted(bitmap) && Deleted(dc));
    EXPECT_EQ(frame.bitmap(), nullptr);
    // Painting after a release makes a new frame.
    ASSERT_TRUE(frame.Present(window.dc(), last.right, last.bottom, state, 0));
    bitmap = frame.bitmap();
    dc = frame.dc();
    ASSERT_NE(bitmap, nullptr);
    replaced.push_back(bitmap);
    replaced.push_back(dc);
  }
  // The destructor deletes the last one.
  for (HGDIOBJ object : replaced) EXPECT_TRUE(Deleted(object));
}

TEST(FrameBuffer, CopiesTheFrameThePainterPaints) {
  // What reaches the window equals a straightforward paint, frame after
  // frame, through a change of DPI.
  FrameBuffer frame;
  for (int dpi : {144, 96}) {
    const RECT client = ClientAt(dpi);
    Canvas window(client.right, client.bottom);
    for (int i = 0; i < 8; ++i) {
      SCOPED_TRACE("dpi " + std::to_string(dpi) + ", frame " + std::to_string(i));
      UiState state = Screen(i);
      state.dpi = dpi;
      state.animTime = 2.0 + i * 0.9;  // a new glow alpha almost every frame
      ASSERT_TRUE(frame.Present(window.Dc(), client.right, client.bottom, state, 0));
      // The frame is a bitmap like the screen's (GDI+ rounds a little
      // differently there than in a DIB), whose fourth byte the screen
      // never shows: compare the colours of the same kind of bitmap.
      PaintTarget plain(client.right, client.bottom, PixelStore::ScreenCompatible);
      ASSERT_TRUE(plain);
      plain.Paint(state, 0, PaintWay::Straightforward);
      Canvas readable(client.right, client.bottom);
      BitBlt(readable.Dc(), 0, 0, client.right, client.bottom, plain.dc(), 0, 0, SRCCOPY);
      GdiFlush();
      std::vector<std::uint32_t> shown = window.Pixels();
      std::vector<std::uint32_t> expected = readable.Pixels();
      for (auto* pixels : {&shown, &expected})
        for (std::uint32_t& pixel : *pixels) pixel &= 0xFFFFFF;
      EXPECT_TRUE(shown == expected) << FirstDifference(shown, expected, client.right);
    }
  }
}

}  // namespace
}  // namespace launcher
