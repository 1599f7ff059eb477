// Work handed out side by side: every item once, and a failure reported as
// one after another would have met it first.
#include "engine/side_by_side.h"

#include <gtest/gtest.h>

#include <atomic>
#include <stdexcept>
#include <string>
#include <thread>
#include <vector>

namespace launcher {
namespace {

TEST(SideBySide, EveryItemOnceOnAtMostTheWorkersAsked) {
  const struct {
    std::size_t count;
    std::size_t workers;
  } cases[] = {{0, 4}, {1, 4}, {3, 4}, {100, 4}, {100, 1}};
  for (const auto& c : cases) {
    std::vector<std::atomic<int>> runs(c.count);
    std::atomic<std::size_t> highestWorker{0};
    SideBySide().Run(c.count, c.workers, [&](std::size_t worker, std::size_t index) {
      ++runs[index];
      std::size_t seen = highestWorker;
      while (worker > seen && !highestWorker.compare_exchange_weak(seen, worker)) {
      }
    });
    for (std::size_t i = 0; i < c.count; ++i) EXPECT_EQ(runs[i], 1) << c.count << " items, item " << i;
    EXPECT_LT(highestWorker.load(), std::max<std::size_t>(1, std::min(c.count, c.workers)));
  }
}

// Item 7 fails late and item 3 early: the failure of item 3 is the one
// thrown, whatever the order in time; nothing is handed out after it.
TEST(SideBySide, TheFailureOfTheLowestItemIsThrownAndNothingStartsAfterIt) {
  std::atomic<std::size_t> started{0};
  std::atomic<bool> sawStop{false};
  SideBySide work;
  try {
    work.Run(1000, 4, [&](std::size_t, std::size_t index) {
      ++started;
      if (index == 7) {
        std::this_thread::sleep_for(std::chrono::milliseconds(200));
        throw std::runtime_error("item 7");
      }
      if (index == 3) throw std::runtime_error("item 3");
      std::this_thread::sleep_for(std::chrono::milliseconds(5));
      if (work.Stopped()) sawStop = true;
    });
    ADD_FAILURE() << "nothing was thrown";
  } catch (const std::runtime_error& error) {
    EXPECT_EQ(std::string(error.what()), "item 3");
  }
  EXPECT_TRUE(work.Stopped());
  EXPECT_TRUE(sawStop);
  EXPECT_LT(started.load(), 1000u);
}

// One object, two lists: the second starts from its first item, neither
// stopped nor failing because the first list failed.
TEST(SideBySide, ASecondRunStartsAfresh) {
  SideBySide work;
  EXPECT_THROW(work.Run(50, 4, [](std::size_t, std::size_t index) {
    if (index == 2) throw std::runtime_error("first list");
  }),
               std::runtime_error);
  std::vector<std::atomic<int>> runs(20);
  work.Run(runs.size(), 4, [&](std::size_t, std::size_t index) { ++runs[index]; });
  EXPECT_FALSE(work.Stopped());
  for (std::size_t i = 0; i < runs.size(); ++i) EXPECT_EQ(runs[i], 1) << "item " << i;
}

}  // namespace
}  // namespace launcher
