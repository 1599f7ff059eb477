// GDI+ started once for a whole test program, before the first test and
// stopped after the last, so it outlives every GDI+ object the tests make.
// A test program includes this header once (in one source file).
#pragma once

#include <windows.h>

// WIN32_LEAN_AND_MEAN leaves out the COM declarations gdiplus.h builds on.
#include <objidl.h>

#include <gdiplus.h>

#include <gtest/gtest.h>

#include <functional>
#include <utility>

namespace launcher::testing {

class GdiplusEnvironment : public ::testing::Environment {
 public:
  // `beforeShutdown` runs right before GDI+ stops (to let go of caches).
  explicit GdiplusEnvironment(std::function<void()> beforeShutdown = {}) : beforeShutdown_(std::move(beforeShutdown)) {}
  void SetUp() override {
    Gdiplus::GdiplusStartupInput input;
    ASSERT_EQ(Gdiplus::GdiplusStartup(&token_, &input, nullptr), Gdiplus::Ok);
  }
  void TearDown() override {
    if (beforeShutdown_) beforeShutdown_();
    Gdiplus::GdiplusShutdown(token_);
  }

 private:
  std::function<void()> beforeShutdown_;
  ULONG_PTR token_ = 0;
};

}  // namespace launcher::testing
