#include "window/post_to_window.h"

#include <algorithm>

namespace launcher {

bool ClosureQueue::Post(HWND window, Closure closure) {
  std::uint64_t ticket;
  {
    const std::lock_guard<std::mutex> lock(mutex_);
    ticket = nextTicket_++;
    pending_.emplace_back(ticket, std::move(closure));
  }
  if (PostMessageW(window, WM_RUN_CLOSURE, 0, 0)) return true;
  Closure unposted;
  {
    const std::lock_guard<std::mutex> lock(mutex_);
    const auto it =
        std::find_if(pending_.begin(), pending_.end(), [ticket](const auto& p) { return p.first == ticket; });
    if (it != pending_.end()) {
      unposted = std::move(it->second);
      pending_.erase(it);
    }
  }
  // Freed here, outside the lock: what it holds may take its time to go.
  return false;
}

void ClosureQueue::RunPending(LauncherUi& ui) {
  for (;;) {
    Closure next;
    {
      const std::lock_guard<std::mutex> lock(mutex_);
      if (pending_.empty()) return;
      next = std::move(pending_.front().second);
      pending_.pop_front();
    }
    // Run outside the lock: a closure may start a worker that posts at once.
    next(ui);
  }
}

}  // namespace launcher
