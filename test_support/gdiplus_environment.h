// GDI+ started once for a whole test program, before the first test and
// stopped after the last, so it outlives every GDI+ object the tests make.
// A test program includes this header once (in one source file) and links
// the painter.
#pragma once

#include <gtest/gtest.h>

#include <optional>

#include "render/gdiplus_session.h"

namespace launcher::testing {

class GdiplusEnvironment : public ::testing::Environment {
 public:
  void SetUp() override {
    session_.emplace();
    ASSERT_TRUE(session_->started());
  }
  void TearDown() override { session_.reset(); }

 private:
  std::optional<GdiplusSession> session_;
};

}  // namespace launcher::testing
