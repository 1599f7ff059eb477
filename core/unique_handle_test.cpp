#include "core/unique_handle.h"

#include <gtest/gtest.h>

#include <type_traits>
#include <vector>

namespace launcher {
namespace {

std::vector<int> closed;
void CountingClose(int handle) { closed.push_back(handle); }

struct MinusOne {
  static int Get() noexcept { return -1; }
};
using Holder = UniqueHandle<int, &CountingClose, MinusOne>;

class UniqueHandleTest : public ::testing::Test {
 protected:
  void SetUp() override { closed.clear(); }
};

TEST_F(UniqueHandleTest, ClosesOnceAtEndOfScope) {
  { Holder h(7); }
  EXPECT_EQ(closed, std::vector<int>{7});
}

TEST_F(UniqueHandleTest, EmptyValueIsNeverClosed) {
  { Holder h; EXPECT_FALSE(h); }
  { Holder h(-1); }
  EXPECT_TRUE(closed.empty());
  Holder zero(0);  // 0 is a real handle for this kind
  EXPECT_TRUE(zero);
}

TEST_F(UniqueHandleTest, MoveLeavesSourceEmpty) {
  Holder a(3);
  Holder b(std::move(a));
  EXPECT_FALSE(a);
  EXPECT_EQ(b.get(), 3);
  Holder c(4);
  c = std::move(b);
  EXPECT_EQ(closed, std::vector<int>{4});
  EXPECT_EQ(c.get(), 3);
}

TEST_F(UniqueHandleTest, ResetClosesOnceReleaseNever) {
  Holder h(5);
  h.reset(6);
  EXPECT_EQ(closed, std::vector<int>{5});
  EXPECT_EQ(h.release(), 6);
  EXPECT_FALSE(h);
  h.reset();
  EXPECT_EQ(closed, std::vector<int>{5});
}

TEST_F(UniqueHandleTest, PutClosesWhatWasHeld) {
  Holder h(8);
  *h.put() = 9;
  EXPECT_EQ(closed, std::vector<int>{8});
  EXPECT_EQ(h.get(), 9);
}

static_assert(!std::is_copy_constructible_v<Holder>);
static_assert(!std::is_copy_assignable_v<Holder>);
static_assert(!std::is_convertible_v<Holder, int>);

}  // namespace
}  // namespace launcher
