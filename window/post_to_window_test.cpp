// Handing closures to the window thread: each runs once, in order, when a
// message says to look in the queue; a closure whose post fails is freed at
// once instead of leaking with everything it holds; a message with junk
// values runs nothing.
#include "window/post_to_window.h"

#include <gtest/gtest.h>

#include <memory>
#include <string>

namespace launcher {
namespace {

HWND MessageWindow() {
  return CreateWindowExW(0, L"STATIC", L"", 0, 0, 0, 0, 0, HWND_MESSAGE, nullptr, nullptr, nullptr);
}

class NoEffects : public ShellEffects {
 public:
  void Repaint() override {}
  bool StartCheckWorker() override { return false; }
  bool StartProbe() override { return false; }
  bool StartPatchWorker(std::shared_ptr<const ReleaseStatus>) override { return false; }
  bool StartPlayCheck(const std::wstring&) override { return false; }
  void StartGame(const std::wstring&) override {}
  void EndWindow() override {}
};

TEST(PostToWindow, PostedClosuresRunOnceInOrderAndAreFreed) {
  const HWND window = MessageWindow();
  ASSERT_NE(window, nullptr);
  NoEffects effects;
  LauncherUi ui(effects);
  ClosureQueue queue;
  auto held = std::make_shared<std::wstring>();
  ASSERT_TRUE(queue.Post(window, [held](LauncherUi&) { *held += L"a"; }));
  ASSERT_TRUE(queue.Post(window, [held](LauncherUi& u) { *held += L"b" + u.state.statusText; }));
  EXPECT_EQ(held.use_count(), 3);

  ui.state.statusText = L"!";
  MSG message;
  ASSERT_TRUE(PeekMessageW(&message, window, WM_RUN_CLOSURE, WM_RUN_CLOSURE, PM_REMOVE));
  queue.RunPending(ui);
  EXPECT_EQ(*held, L"ab!");
  EXPECT_EQ(held.use_count(), 1);
  // The second message finds its closure already run.
  ASSERT_TRUE(PeekMessageW(&message, window, WM_RUN_CLOSURE, WM_RUN_CLOSURE, PM_REMOVE));
  queue.RunPending(ui);
  EXPECT_EQ(*held, L"ab!");
  DestroyWindow(window);
}

TEST(PostToWindow, ClosureOfAFailedPostIsFreedAtOnce) {
  const HWND window = MessageWindow();
  ASSERT_NE(window, nullptr);
  DestroyWindow(window);
  NoEffects effects;
  LauncherUi ui(effects);
  ClosureQueue queue;
  auto held = std::make_shared<int>(0);
  EXPECT_FALSE(queue.Post(window, [held](LauncherUi&) { ++*held; }));
  EXPECT_EQ(held.use_count(), 1);
  queue.RunPending(ui);
  EXPECT_EQ(*held, 0);
}

}  // namespace
}  // namespace launcher
