// The one way a worker thread hands work to the window thread. The closure
// waits in the window's own queue; the message posted with it only says
// "look in the queue" and carries nothing. Any program on the desktop can
// post any message to the window, so a message whose values meant an address
// would let it run whatever it liked there; this one, junk values and all,
// at most runs closures this process queued itself.
#pragma once

#include <windows.h>

#include <cstdint>
#include <deque>
#include <functional>
#include <memory>
#include <mutex>
#include <utility>

#include "ui/ui_transitions.h"

namespace launcher {

inline constexpr UINT WM_RUN_CLOSURE = WM_APP + 1;

// Work for the window thread: a transition of the window's state.
using Closure = std::function<void(LauncherUi&)>;

class ClosureQueue {
 public:
  // Appends `closure` and posts WM_RUN_CLOSURE to `window`. Callable from
  // any thread. When the post fails (the window is gone, its message queue is
  // full) the closure is taken out again and freed at once, never to run;
  // the result says whether it was posted.
  bool Post(HWND window, Closure closure);

  // The window thread's side of WM_RUN_CLOSURE: runs every closure queued
  // so far, oldest first. With nothing queued (a message some other program
  // posted, or one whose closure an earlier message already ran) it does
  // nothing.
  void RunPending(LauncherUi& ui);

 private:
  std::mutex mutex_;
  std::deque<std::pair<std::uint64_t, Closure>> pending_;
  std::uint64_t nextTicket_ = 0;
};

// What a worker holds to reach the window: its handle and its queue,
// copied into the worker before it starts.
struct WindowPost {
  HWND window = nullptr;
  std::shared_ptr<ClosureQueue> queue;

  bool operator()(Closure closure) const { return queue->Post(window, std::move(closure)); }
};

}  // namespace launcher
