// The one way a worker thread hands work to the window thread: a closure
// posted as a message, run by the window procedure.
#pragma once

#include <windows.h>

#include <functional>

namespace launcher {

inline constexpr UINT WM_RUN_CLOSURE = WM_APP + 1;

using Closure = std::function<void()>;

// Moves `closure` onto the heap and posts it to `window` as WM_RUN_CLOSURE.
// Callable from any thread. When the post fails (the window is gone, the
// queue is full) the closure is freed at once and never runs; the result
// says whether it was posted.
bool PostToWindow(HWND window, Closure closure);

// The window procedure's side: takes ownership of the closure a
// WM_RUN_CLOSURE message carries, runs it once and frees it.
void RunPostedClosure(LPARAM message);

}  // namespace launcher
