// Known answers of the painter's arithmetic, checked natively (sanitizers in
// the host build) and under Wine in the Windows build.
#include <gtest/gtest.h>

#include <cmath>
#include <string>

#include "ui/layout.h"
#include "render/button_look.h"
#include "render/effect_math.h"

namespace launcher {
namespace {

TEST(EffectMath, Hash01IsTheFractionOfTheScaledSine) {
  // fract(sin(78.233) * 43758.5453), worked out independently.
  EXPECT_FLOAT_EQ(Hash01(0, 1), 0.18291635f);
  for (int n = -50; n < 200; ++n) {
    for (int k : {1, 9, 21, 26}) {
      const float h = Hash01(n, k);
      ASSERT_GE(h, 0.0f) << n << ", " << k;
      ASSERT_LT(h, 1.0f) << n << ", " << k;
    }
  }
}

TEST(EffectMath, FlickerStaysWithinItsRangeAndKeepsTheHearthGlowBetween7And34) {
  float lowest = 1, highest = 0;
  for (int step = 0; step <= 400; ++step) {
    const float tt = static_cast<float>(step) * 0.37f;
    for (int xi = 0; xi <= 20; ++xi) {
      const float f = Flicker(static_cast<float>(xi) / 20, tt);
      lowest = std::min(lowest, f);
      highest = std::max(highest, f);
    }
    const std::uint32_t alpha = HearthGlow(0.75f, tt).centre >> 24;
    ASSERT_GE(alpha, 7u);
    ASSERT_LE(alpha, 34u);
  }
  EXPECT_GE(lowest, 0.22f);
  EXPECT_LE(highest, 1.0f);
  // The clamp is reached at both ends, so the range is the whole of it.
  EXPECT_EQ(lowest, 0.22f);
  EXPECT_EQ(highest, 1.0f);
}

TEST(EffectMath, GlowAlphasAtKnownTimes) {
  struct Case {
    const char* name;
    double t;
    std::uint32_t groundAlpha;
  };
  const Case kCases[] = {{"t = 0", 0, 34}, {"quarter period", 1.875, 42}, {"three quarters", 5.625, 26}};
  for (const auto& c : kCases) {
    SCOPED_TRACE(c.name);
    EXPECT_EQ(GroundGlowAlpha(c.t), c.groundAlpha);
  }
  EXPECT_EQ(BeaconGlow(1, 0).centre, 0x19FF5C12u);  // alpha 25 at tt = 0
}

TEST(EffectMath, BeaconGlowAt144DpiSitsOnTheBeacon) {
  const float m = PictureScale(840);
  ASSERT_FLOAT_EQ(m, 0.75f);
  const RectF32 box = BeaconGlow(m, 0).box;
  EXPECT_NEAR(box.width / 2, 6.87f, 1e-4f);
  EXPECT_NEAR(box.x + box.width / 2, 241.35f, 0.005f);  // 321.798 * 0.75
  EXPECT_NEAR(box.y + box.height / 2, 138.74f, 0.005f);
}

TEST(EffectMath, EffectsRepeatEveryTenHoursButSparksDoNot) {
  EXPECT_EQ(EffectTime(36000), EffectTime(0));
  EXPECT_EQ(HearthGlow(1, EffectTime(36000.5)).centre, HearthGlow(1, EffectTime(0.5)).centre);
  const WispDraw a = WispAt(1, 4, 1, EffectTime(36003));
  const WispDraw b = WispAt(1, 4, 1, EffectTime(3));
  EXPECT_EQ(a.destination.x, b.destination.x);
  EXPECT_EQ(a.alpha, b.alpha);
  bool anySparkMoved = false;
  for (int i = 0; i < kSparks; ++i)
    anySparkMoved |= SparkAt(i, 840, 510, 1.5f, 36000).x != SparkAt(i, 840, 510, 1.5f, 0).x;
  EXPECT_TRUE(anySparkMoved);
}

TEST(EffectMath, StripSlicesCoverTheStripEdgeToEdge) {
  const float m = 0.75f;
  float nextSource = 0;
  for (int i = 0; i < kStripSlices; ++i) {
    const StripSlice slice = StripSliceAt(i, 172, 21, m, 3);
    EXPECT_EQ(slice.source.x, nextSource) << i;
    nextSource = slice.source.x + slice.source.width;
    EXPECT_GE(slice.flicker, 0.22f);
  }
  EXPECT_EQ(nextSource, 172);
  // From x = 58.5 to 161.7 picture pixels, top 247.1, 12.6 high.
  const StripSlice first = StripSliceAt(0, 172, 21, 1, 0);
  const StripSlice last = StripSliceAt(kStripSlices - 1, 172, 21, 1, 0);
  EXPECT_NEAR(first.destination.x, 58.5f, 1e-4f);
  EXPECT_NEAR(last.destination.x + last.destination.width, 161.7f, 1e-4f);
  EXPECT_NEAR(first.destination.y, 247.1f, 1e-4f);
  EXPECT_NEAR(first.destination.height, 12.6f, 1e-4f);
}

TEST(EffectMath, WispsAreMirroredAroundTheirCentreAndFadeInAtBirth) {
  int mirrored = 0;
  for (int k = 0; k < kSmokeSources; ++k) {
    for (int j = 0; j < kWispsPerSource; ++j) {
      const WispDraw w = WispAt(k, j, 0.75f, 3);
      mirrored += w.destination.width < 0;
      EXPECT_GT(w.destination.height, 0);
      EXPECT_GE(w.alpha, 0);
      EXPECT_LE(w.alpha, k == 1 ? 0.22f : 0.17f);
    }
  }
  EXPECT_GT(mirrored, 0);
  EXPECT_LT(mirrored, kSmokeSources * kWispsPerSource);
  // Wisp 0 of source 0 is born at tt = 0: invisible, at its source
  // (picture point 267.3, 106.7), grey.
  const WispDraw born = WispAt(0, 0, 1, 0);
  EXPECT_EQ(born.alpha, 0);
  EXPECT_NEAR(born.destination.x + born.destination.width / 2, 0.458f * 612 - 13, 0.5f);
  EXPECT_NEAR(born.destination.y + born.destination.height / 2, 0.458f * 246 - 6, 0.01f);
  EXPECT_FLOAT_EQ(born.red, 172.0f / 255);
  // Source 1's wisps are born glowing orange.
  const WispDraw glowing = WispAt(1, 0, 1, 0);
  const float age = 0.31f - std::floor(0.31f);
  const float heat = std::max(1 - age / 0.22f, 0.0f);
  EXPECT_FLOAT_EQ(glowing.red, (172 + 60 * heat) / 255);
}

TEST(EffectMath, SparksRiseFromTheLowerRightAndFade) {
  for (int i = 0; i < kSparks; ++i) {
    SCOPED_TRACE(i);
    for (double t : {0.0, 3.0, 4.5, 100.25}) {
      const SparkDraw spark = SparkAt(i, 840, 510, 1.5f, t);
      EXPECT_LE(spark.glowAlpha, 46u);
      EXPECT_LE(spark.coreAlpha, 210u);
      EXPECT_GE(spark.radius, 1.65f - 1e-5f);
      EXPECT_LE(spark.radius, 3.3f + 1e-5f);
      EXPECT_LE(spark.y, 1.04f * 510 + 1e-3f);
      // Sway (9 s) and drift (-6 s per second, at most 9 s long) keep a
      // spark right of the middle less a margin.
      EXPECT_GT(spark.x, 420 - 9 * 1.5f - 6 * 1.5f * 9);
    }
  }
}

TEST(ButtonLayout, RectRoundsHalfAwayFromZero) {
  struct Case {
    int dpi;
    PixelRect rect;
  };
  const Case kCases[] = {
      {48, {14, 129, 266, 154}},
      {96, {28, 258, 532, 308}},
      {120, {35, 323, 665, 385}},  // 258 * 1.25 = 322.5
      {144, {42, 387, 798, 462}},
  };
  for (const auto& c : kCases) {
    SCOPED_TRACE(c.dpi);
    const PixelRect r = ButtonRect(c.dpi);
    EXPECT_EQ(r.left, c.rect.left);
    EXPECT_EQ(r.top, c.rect.top);
    EXPECT_EQ(r.right, c.rect.right);
    EXPECT_EQ(r.bottom, c.rect.bottom);
  }
}

TEST(ButtonLook, CaptionFollowsPhaseAndInstalledVersion) {
  struct Case {
    Phase phase;
    const wchar_t* installed;
    std::int32_t percent;
    const wchar_t* caption;
  };
  const Case kCases[] = {
      {Checking, L"1.1.3", 0, L"Checking..."},
      {Offline, L"1.1.3", 0, L"Play"},
      {Patch, L"", 0, L"Install"},
      {Patch, L"1.1.3", 0, L"Patch"},
      {Patching, L"1.1.3", 42, L"Patching 42%"},
      {Patching, L"", 42, L"Installing 42%"},
      {Patching, L"1.1.3", 0, L"Patching 0%"},
      {Patching, L"1.1.3", -5, L"Patching -5%"},
      {Patching, L"1.1.3", 140, L"Patching 140%"},
      {Ready, L"", 0, L"Play"},
      {static_cast<Phase>(7), L"1.1.3", 0, L""},
      {static_cast<Phase>(-1), L"1.1.3", 0, L""},
  };
  for (const auto& c : kCases) {
    UiState ui;
    ui.phase = c.phase;
    ui.installedVersion = c.installed;
    ui.progressPercent = c.percent;
    EXPECT_EQ(ButtonCaption(ui), c.caption) << "phase " << c.phase << ", percent " << c.percent;
  }
}

TEST(ButtonLook, ActiveColoursForGlowAndPress) {
  struct Case {
    const char* name;
    float h;
    int pressed;
    Argb top, bottom, border, highlight, halo;
  };
  const Case kCases[] = {
      {"resting", 0, 0, 0xFFD6A256, 0xFF8A602C, 0xAAF0CC88, 0x50FFEAB4, 0x00E89E4A},
      {"hovered", 1, 0, 0xFFF0BE6E, 0xFFA87638, 0xF0F0CC88, 0x8CFFEAB4, 0x0BE89E4A},
      {"hovered and pressed", 1, 1, 0xFFC49B5A, 0xFF89602D, 0xF0F0CC88, 0x8CFFEAB4, 0x0BE89E4A},
      {"pressed is 1 only", 1, 2, 0xFFF0BE6E, 0xFFA87638, 0xF0F0CC88, 0x8CFFEAB4, 0x0BE89E4A},
      {"glow beyond 1 clamps the fill only", 2, 0, 0xFFF0BE6E, 0xFFA87638, 0x36F0CC88, 0xC8FFEAB4, 0x16E89E4A},
  };
  for (const auto& c : kCases) {
    SCOPED_TRACE(c.name);
    const ButtonFill fill = ActiveButtonFill(c.h, c.pressed);
    EXPECT_EQ(fill.top, c.top);
    EXPECT_EQ(fill.bottom, c.bottom);
    EXPECT_EQ(ActiveBorderColour(c.h), c.border);
    EXPECT_EQ(HighlightColour(c.h), c.highlight);
    EXPECT_EQ(HaloColour(c.h), c.halo);
  }
}

TEST(ButtonLook, HeatColorIsWhiteHotAtTheLeadingEdgeAndAmberFarBehind) {
  for (double t : {0.0, 0.7, 3.0, 12.345, 1000.0}) {
    for (float fw : {1.0f, 100.0f, 317.52f, 756.0f}) {
      SCOPED_TRACE(testing::Message() << "t " << t << ", fw " << fw);
      const Argb edge = OpaqueColour(HeatColor(fw, fw, 756, t));
      EXPECT_EQ(edge, 0xFFFFE4A6u);
    }
  }
  // Far behind the edge the white-hot tint is gone and the heat nearly so.
  const Rgb far = HeatColor(0, 756, 756, 0);
  EXPECT_NEAR(far.red, 96 + 118 * std::exp(-1 / 0.34f), 118 * 0.08f * 0.06f);
  EXPECT_LT(far.green, 100);
}

TEST(ButtonLook, ProgressGeometry) {
  EXPECT_EQ(ProgressStripWidth(1.0), 2.0f);
  EXPECT_EQ(ProgressStripWidth(0.5), 1.0f);
  EXPECT_EQ(ProgressStripWidth(1.5), 3.0f);
  EXPECT_FLOAT_EQ(ProgressFraction(42) * 756, 317.52f);
  EXPECT_EQ(ProgressFraction(-5), 0.0f);
  EXPECT_EQ(ProgressFraction(140), 1.0f);
}

}  // namespace
}  // namespace launcher
