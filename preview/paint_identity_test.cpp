// The painter's economies change no pixel: every preview screen and the
// 60 animation frames, painted the economical way (kept backdrop with its
// glow, kept fonts and text objects, rectangle clips, skipped invisible
// sparks and wisps) against the straightforward way, at 144 and 96 DPI and
// back, into the DIB the previews save and through the window's kept frame.
#include <windows.h>

#include <gtest/gtest.h>

#include <cstdint>
#include <cstdio>
#include <set>
#include <string>
#include <vector>

#include "core/text.h"
#include "preview/preview.h"
#include "render/effect_math.h"
#include "render/frame_buffer.h"
#include "render/gdiplus_session.h"
#include "render/paint_target.h"
#include "render/scene.h"
#include "test_support/gdiplus_environment.h"
#include "ui/layout.h"

namespace launcher {
namespace {

[[maybe_unused]] auto* const kGdiplus = ::testing::AddGlobalTestEnvironment(new testing::GdiplusEnvironment);

// 144 DPI, then 96 (another size), then 144 again: the kept objects of one
// size must not leak into the other.
constexpr int kDpis[] = {144, 96, 144};

struct Client {
  int width, height;
};
Client ClientAt(int dpi) { return {kLayoutWidth * dpi / 96, kLayoutHeight * dpi / 96}; }

std::vector<std::uint32_t> PixelsOf(const PaintTarget& target, Client client) {
  GdiFlush();
  return {target.pixels(), target.pixels() + static_cast<size_t>(client.width) * client.height};
}

std::string FirstDifference(const std::vector<std::uint32_t>& a, const std::vector<std::uint32_t>& b, int width) {
  for (size_t i = 0; i < a.size() && i < b.size(); ++i) {
    if (a[i] == b[i]) continue;
    char text[96];
    std::snprintf(text, sizeof text, "first difference at (%d, %d): %08x vs %08x", static_cast<int>(i % width),
                  static_cast<int>(i / width), a[i], b[i]);
    return text;
  }
  return a.size() == b.size() ? "none" : "sizes differ";
}

TEST(PaintIdentity, PreviewScreensCoverEveryLookAndAChangingGlow) {
  const std::vector<PreviewScreen> screens = PreviewScreens();
  ASSERT_EQ(screens.size(), 67u);
  std::set<std::uint32_t> alphas;
  for (const PreviewScreen& screen : screens) alphas.insert(GroundGlowAlpha(screen.state.animTime));
  // The two seconds of animation pass through many glow alphas, so the
  // comparisons below cross kept pictures of the backdrop.
  EXPECT_GE(alphas.size(), 8u);
}

TEST(PaintIdentity, PreviewsPaintedEconomicallyEqualTheStraightforwardPaint) {
  ReleaseRenderCaches();
  for (int dpi : kDpis) {
    const Client client = ClientAt(dpi);
    // Kept across the screens of one size, as a window keeps its frame.
    PaintTarget economical(client.width, client.height, PixelStore::TopDownDib);
    ASSERT_TRUE(economical);
    for (const PreviewScreen& screen : PreviewScreens()) {
      SCOPED_TRACE(NarrowLow(screen.name) + " at " + std::to_string(dpi) + " DPI");
      UiState state = screen.state;
      state.dpi = dpi;
      PaintTarget straightforward(client.width, client.height, PixelStore::TopDownDib);
      ASSERT_TRUE(straightforward);
      straightforward.Paint(state, screen.pressed, PaintWay::Straightforward);
      economical.Paint(state, screen.pressed, PaintWay::Economical);
      const auto expected = PixelsOf(straightforward, client);
      const auto actual = PixelsOf(economical, client);
      ASSERT_TRUE(actual == expected) << FirstDifference(actual, expected, client.width);
    }
  }
}

TEST(PaintIdentity, TheWindowsKeptFrameShowsTheStraightforwardPaint) {
  ReleaseRenderCaches();
  // One frame buffer through every size change, as the window keeps it;
  // what it copies out is read back from a DIB. The reference is painted
  // into a bitmap like the screen's too, then copied the same way.
  FrameBuffer frame;
  for (int dpi : kDpis) {
    const Client client = ClientAt(dpi);
    PaintTarget window(client.width, client.height, PixelStore::TopDownDib);
    PaintTarget reference(client.width, client.height, PixelStore::TopDownDib);
    ASSERT_TRUE(window && reference);
    for (const PreviewScreen& screen : PreviewScreens()) {
      SCOPED_TRACE(NarrowLow(screen.name) + " at " + std::to_string(dpi) + " DPI");
      UiState state = screen.state;
      state.dpi = dpi;
      PaintTarget plain(client.width, client.height, PixelStore::ScreenCompatible);
      ASSERT_TRUE(plain);
      plain.Paint(state, screen.pressed, PaintWay::Straightforward);
      BitBlt(reference.dc(), 0, 0, client.width, client.height, plain.dc(), 0, 0, SRCCOPY);
      ASSERT_TRUE(frame.Present(window.dc(), client.width, client.height, state, screen.pressed));
      const auto expected = PixelsOf(reference, client);
      const auto actual = PixelsOf(window, client);
      ASSERT_TRUE(actual == expected) << FirstDifference(actual, expected, client.width);
    }
  }
}

}  // namespace
}  // namespace launcher
