// The painter against the launcher's own resources, under Wine: loading,
// the one-slot backdrop, the font choice, and a long paint loop that must
// not leak.
#include <windows.h>

#include <psapi.h>

#include <gtest/gtest.h>

#include <cstdint>
#include <string>
#include <vector>

#include "render/embedded_assets.h"
#include "render/paint_target.h"
#include "render/scene.h"
#include "test_support/gdiplus_environment.h"

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

TEST(EmbeddedAssets, LoadResourceBitmapScalesOrKeepsTheNaturalSize) {
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

TEST(EmbeddedAssets, BackdropKeepsOneSizeAtATime) {
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

TEST(EmbeddedAssets, SpritesAndFontsAreThere) {
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
  void Paint(const UiState& state, int pressed) { target_.Paint(state, pressed); }
  std::vector<std::uint32_t> Pixels() const { return {target_.pixels(), target_.pixels() + size_}; }

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

TEST(PaintScene, ThousandsOfFramesKeepHandlesAndMemoryFlat) {
  Canvas canvas(560, 340);
  // Warm up: caches loaded, heaps grown to their working size.
  for (int frame = 0; frame < 100; ++frame) canvas.Paint(Screen(frame), frame % 8 == 0);
  const std::uint64_t memoryBefore = PrivateBytes();
  const std::uint64_t heapBefore = HeapBytesInUse();
  const DWORD handlesBefore = Handles();
  const DWORD gdiBefore = GetGuiResources(GetCurrentProcess(), GR_GDIOBJECTS);

  constexpr int kFrames = 2000;
  for (int frame = 100; frame < 100 + kFrames; ++frame) canvas.Paint(Screen(frame), frame % 8 == 0);

  // One brush left behind per text and frame grows the heap by tens of
  // kilobytes here (Wine does not count heap growth in private bytes; Windows does).
  const std::int64_t heapGrown = static_cast<std::int64_t>(HeapBytesInUse()) - static_cast<std::int64_t>(heapBefore);
  EXPECT_LT(heapGrown, 4096) << "heap grew by " << heapGrown;
  const std::int64_t grown = static_cast<std::int64_t>(PrivateBytes()) - static_cast<std::int64_t>(memoryBefore);
  EXPECT_LT(grown, 1 << 20) << "private bytes grew by " << grown;
  EXPECT_LE(Handles(), handlesBefore);
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

}  // namespace
}  // namespace launcher
