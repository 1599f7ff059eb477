// The pointer, the animation step and the progress filter, driven the way
// the window procedure drives them, as tables of what a player's mouse and
// a download can do.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "ui/animation.h"
#include "ui/pointer.h"
#include "ui/progress_filter.h"

namespace launcher {
namespace {

TEST(HitTest, EdgesAtEachDpiAndNegativePositions) {
  const struct {
    int x, y, dpi, hit;
  } cases[] = {
      {28, 258, 96, ButtonTarget},   // top-left corner is inside
      {531, 307, 96, ButtonTarget},  // last pixel inside
      {532, 300, 96, NoTarget},      // right edge is exclusive
      {300, 308, 96, NoTarget},      // bottom edge is exclusive
      {27, 300, 96, NoTarget},
      {42, 387, 144, ButtonTarget},
      {41, 387, 144, NoTarget},
      {797, 461, 144, ButtonTarget},
      {798, 461, 144, NoTarget},
      // A captured pointer left of or above the window reports negative
      // positions; they must not wrap into the button.
      {-1, 300, 96, NoTarget},
      {300, -1, 96, NoTarget},
      {-32768, -32768, 96, NoTarget},
      {-65536 + 300, 300, 96, NoTarget},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(HitTest(c.x, c.y, c.dpi), c.hit) << c.x << ", " << c.y << " at " << c.dpi;
  }
}

UiState WithButton(bool active) {
  UiState state;
  state.phase = active ? Ready : Checking;
  return state;
}

// One step of a pointer story: what happens, and what the window must then
// do and hold.
enum class Event { Move, Press, Release, Leave, CaptureLost };
struct Step {
  Event event;
  int hit;  // for Move, Press, Release
  bool repaint, capture, trackLeave, handCursor, click;
  int hoverAfter, pressedAfter;
};

PointerResult Apply(PointerState& pointer, const Step& step, const UiState& state) {
  switch (step.event) {
    case Event::Move:
      return PointerMoved(pointer, step.hit, state);
    case Event::Press:
      return PointerPressed(pointer, step.hit, state);
    case Event::Release:
      return PointerReleased(pointer, step.hit);
    case Event::Leave:
      return PointerLeft(pointer);
    case Event::CaptureLost:
      return CaptureLost(pointer);
  }
  return {};
}

struct Story {
  const char* name;
  bool active;
  std::vector<Step> steps;
};

TEST(Pointer, Stories) {
  using E = Event;
  constexpr int B = ButtonTarget, N = NoTarget;
  const Story stories[] = {
      {"click on the active button",
       true,
       {{E::Move, B, true, false, true, true, false, B, N},
        {E::Move, B, false, false, false, true, false, B, N},  // leave already tracked, nothing changed
        {E::Press, B, true, true, false, false, false, B, B},
        {E::Release, B, true, false, false, false, true, B, N}}},
      {"press moves off and back before the release still clicks",
       true,
       {{E::Press, B, true, true, false, false, false, N, B},
        {E::Move, N, false, false, true, false, false, N, B},
        {E::Move, B, true, false, false, true, false, B, B},
        {E::Release, B, true, false, false, false, true, B, N}}},
      {"release outside the button is no click",
       true,
       {{E::Press, B, true, true, false, false, false, N, B}, {E::Release, N, true, false, false, false, false, N, N}}},
      {"release without a press is no click", true, {{E::Release, B, true, false, false, false, false, N, N}}},
      {"inactive button: arrow, no press, no capture",
       false,
       {{E::Move, B, true, false, true, false, false, B, N},
        {E::Press, B, false, false, false, false, false, B, N},
        {E::Release, B, true, false, false, false, false, B, N}}},
      {"press off the button takes nothing", true, {{E::Press, N, false, false, false, false, false, N, N}}},
      {"leave clears hover and press, a later release is no click",
       true,
       {{E::Move, B, true, false, true, true, false, B, N},
        {E::Press, B, true, true, false, false, false, B, B},
        {E::Leave, N, true, false, false, false, false, N, N},
        {E::Release, B, true, false, false, false, false, N, N},
        // Leave asked again on the next move, since the first one arrived.
        {E::Move, B, true, false, true, true, false, B, N}}},
      {"leave with nothing shown needs no repaint", true, {{E::Leave, N, false, false, false, false, false, N, N}}},
      {"lost capture ends the press, hover stays",
       true,
       {{E::Move, B, true, false, true, true, false, B, N},
        {E::Press, B, true, true, false, false, false, B, B},
        {E::CaptureLost, N, true, false, false, false, false, B, N},
        {E::CaptureLost, N, false, false, false, false, false, B, N},
        {E::Release, B, true, false, false, false, false, B, N}}},
  };
  for (const Story& story : stories) {
    const UiState state = WithButton(story.active);
    PointerState pointer;
    for (size_t i = 0; i < story.steps.size(); ++i) {
      const Step& step = story.steps[i];
      const PointerResult r = Apply(pointer, step, state);
      const std::string where = std::string(story.name) + ", step " + std::to_string(i + 1);
      EXPECT_EQ(r.repaint, step.repaint) << where;
      EXPECT_EQ(r.capture, step.capture) << where;
      EXPECT_EQ(r.trackLeave, step.trackLeave) << where;
      EXPECT_EQ(r.handCursor, step.handCursor) << where;
      EXPECT_EQ(r.click, step.click) << where;
      EXPECT_EQ(pointer.hoverTarget, step.hoverAfter) << where;
      EXPECT_EQ(pointer.pressedTarget, step.pressedAfter) << where;
    }
  }
}

TEST(Pointer, HandCursorOnlyOnAnActiveButton) {
  const struct {
    int hover;
    Phase phase;
    bool busy;
    bool hand;
  } cases[] = {
      {ButtonTarget, Ready, false, true},     {ButtonTarget, Patch, false, true},
      {ButtonTarget, Ready, true, false},     {ButtonTarget, Checking, false, false},
      {ButtonTarget, Patching, false, false}, {ButtonTarget, Offline, false, false},
      {NoTarget, Ready, false, false},
  };
  for (const auto& c : cases) {
    PointerState pointer;
    pointer.hoverTarget = c.hover;
    UiState state;
    state.phase = c.phase;
    state.busy = c.busy;
    EXPECT_EQ(ShowsHandCursor(pointer, state), c.hand) << static_cast<int>(c.phase) << " busy " << c.busy;
  }
}

TEST(Animation, GlowEasesAndLongPausesAreCapped) {
  const struct {
    const char* name;
    double startTime;
    float startGlow;
    double now;
    bool glowing;
    float glow;
  } cases[] = {
      {"one frame toward the glow", 1.0, 0.0f, 1.033, true, 0.033f * 14.0f},
      {"one frame away from it", 1.0, 1.0f, 1.033, false, 1.0f - 0.033f * 14.0f},
      {"a pause counts as 0.1 s", 1.0, 0.0f, 30.0, true, 1.0f},
      {"a step never overshoots", 1.0, 0.5f, 1.1, true, 1.0f},
      {"a short pause eases part way", 1.0, 0.0f, 1.05, true, 0.7f},
      {"no time, no change", 2.0, 0.25f, 2.0, true, 0.25f},
      {"at rest stays at rest", 2.0, 0.0f, 2.033, false, 0.0f},
  };
  for (const auto& c : cases) {
    UiState state;
    state.animTime = c.startTime;
    state.hoverGlow = c.startGlow;
    AdvanceAnimation(state, c.now, c.glowing);
    EXPECT_DOUBLE_EQ(state.animTime, c.now) << c.name;
    EXPECT_NEAR(state.hoverGlow, c.glow, 1e-4) << c.name;
  }
}

TEST(Animation, AFadingGlowEndsAtExactlyZero) {
  UiState state;
  state.hoverGlow = 1.0f;
  int frames = 0;
  for (; frames < 300 && state.hoverGlow != 0.0f; ++frames) {
    // Still visible: it is never cut off above the rest threshold.
    EXPECT_GE(state.hoverGlow, kGlowAtRest);
    AdvanceAnimation(state, state.animTime + 1.0 / 30, false);
  }
  EXPECT_EQ(state.hoverGlow, 0.0f);
  // Within about a third of a second at 30 frames a second.
  EXPECT_LT(frames, 15);
  // Hovering again starts from 0, not from a left-over remainder.
  AdvanceAnimation(state, state.animTime + 1.0 / 30, true);
  EXPECT_NEAR(state.hoverGlow, 14.0f / 30, 1e-5);
}

TEST(ProgressFilter, LetsThroughEachChangeOnce) {
  const struct {
    const wchar_t* text;
    int percent;
    bool through;
  } reports[] = {
      {L"Downloading: 0 of 42 MB", 0, true},  {L"Downloading: 0 of 42 MB", 0, false},
      {L"Downloading: 1 of 42 MB", 0, true},                                           // the text alone changed
      {L"Downloading: 1 of 42 MB", 2, true},                                           // the percent alone changed
      {L"Downloading: 1 of 42 MB", 2, false}, {L"Downloading: 1 of 42 MB ", 2, true},  // one code unit longer
      {L"Downloading: 1 of 42 MB", 2, true},                                           // back is a change too
  };
  ProgressFilter filter;
  for (const auto& r : reports) {
    EXPECT_EQ(filter.LetThrough(r.text, r.percent), r.through) << r.percent;
  }
  // The very first report passes even when it is empty at 0 percent.
  ProgressFilter fresh;
  EXPECT_TRUE(fresh.LetThrough(L"", 0));
}

}  // namespace
}  // namespace launcher
