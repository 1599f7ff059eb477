// Handing closures to the window thread: each runs once when its message is
// handled, and a closure whose post fails is freed at once instead of
// leaking with everything it holds.
#include "window/post_to_window.h"

#include <gtest/gtest.h>

#include <memory>

namespace launcher {
namespace {

HWND MessageWindow() {
  return CreateWindowExW(0, L"STATIC", L"", 0, 0, 0, 0, 0, HWND_MESSAGE, nullptr, nullptr, nullptr);
}

TEST(PostToWindow, PostedClosureRunsOnceAndIsFreed) {
  const HWND window = MessageWindow();
  ASSERT_NE(window, nullptr);
  auto held = std::make_shared<int>(0);
  ASSERT_TRUE(PostToWindow(window, [held] { ++*held; }));
  EXPECT_EQ(held.use_count(), 2);

  MSG message;
  ASSERT_TRUE(PeekMessageW(&message, window, WM_RUN_CLOSURE, WM_RUN_CLOSURE, PM_REMOVE));
  RunPostedClosure(message.lParam);
  EXPECT_EQ(*held, 1);
  EXPECT_EQ(held.use_count(), 1);
  DestroyWindow(window);
}

TEST(PostToWindow, ClosureOfAFailedPostIsFreedAtOnce) {
  const HWND window = MessageWindow();
  ASSERT_NE(window, nullptr);
  DestroyWindow(window);
  auto held = std::make_shared<int>(0);
  EXPECT_FALSE(PostToWindow(window, [held] { ++*held; }));
  EXPECT_EQ(held.use_count(), 1);
  EXPECT_EQ(*held, 0);
}

}  // namespace
}  // namespace launcher
