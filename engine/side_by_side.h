// Work on a list, a few items at a time: the release check hashes the
// installed files and the patch downloads game files this way, since one
// after another each item waits for the disk or a round trip the others
// could have used.
#pragma once

#include <algorithm>
#include <atomic>
#include <cstddef>
#include <exception>
#include <mutex>
#include <system_error>
#include <thread>
#include <vector>

namespace launcher {

// How many items run at once, on threads of their own (the calling thread
// among them). Measured with bench/many_files.sh (300 files, 28.6 MiB, 50 ms
// more per round trip): 5.7 s with four, 3.3 s with eight; on loopback both
// took the same time. Eight is what browsers keep per server and more, and
// each worker holds only a connection and one chunk of a body.
inline constexpr std::size_t kSideBySide = 8;

class SideBySide {
 public:
  // Calls work(worker, index) for every index in [0, count), handing the
  // indices out in list order from one place, on up to `workers` threads
  // (worker numbers 0 .. workers-1; the calling thread is worker 0). A
  // thread the system refuses only means fewer side by side.
  //
  // Once an item throws, no further index is handed out; the items already
  // running finish, or watch Stopped() and give up early. When all threads
  // have ended, the failure of the lowest index is rethrown. When every item
  // runs to its end, every index below it was handed out and finished, so it
  // is the failure one item after another would have met first; items that
  // give up early may leave lower indices unfinished without a failure.
  //
  // Each Run starts afresh, so one object may run several lists in turn
  // (never two at once).
  template <typename Work>
  void Run(std::size_t count, std::size_t workers, Work work) {
    next_ = 0;
    stopped_ = false;
    failure_ = nullptr;
    failedIndex_ = 0;
    workers = std::max<std::size_t>(1, std::min(workers, count));
    std::vector<std::thread> helpers;
    for (std::size_t worker = 1; worker < workers; ++worker) {
      try {
        helpers.emplace_back([this, count, worker, &work] { Loop(count, worker, work); });
      } catch (const std::system_error&) {
        break;
      }
    }
    Loop(count, 0, work);
    for (std::thread& thread : helpers) thread.join();
    if (failure_) std::rethrow_exception(failure_);
  }

  // True once an item has failed, or Stop() was called.
  bool Stopped() const { return stopped_; }

  // Hands out no further index, as a failure does; for an item that is about
  // to fail and wakes the others first, so that none of them takes a new
  // index before the failure is counted.
  void Stop() { stopped_ = true; }

 private:
  template <typename Work>
  void Loop(std::size_t count, std::size_t worker, Work& work) {
    for (;;) {
      const std::size_t index = next_.fetch_add(1);
      if (index >= count || stopped_) return;
      try {
        work(worker, index);
      } catch (...) {
        // Exceptions stop at the thread's entry; Run rethrows one of them.
        const std::lock_guard lock(mutex_);
        if (!failure_ || index < failedIndex_) {
          failure_ = std::current_exception();
          failedIndex_ = index;
        }
        stopped_ = true;
      }
    }
  }

  std::atomic<std::size_t> next_{0};
  std::atomic<bool> stopped_{false};
  std::mutex mutex_;
  std::exception_ptr failure_;
  std::size_t failedIndex_ = 0;
};

}  // namespace launcher
