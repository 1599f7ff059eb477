#include "window/post_to_window.h"

#include <memory>
#include <utility>

namespace launcher {

bool PostToWindow(HWND window, Closure closure) {
  auto owned = std::make_unique<Closure>(std::move(closure));
  if (!PostMessageW(window, WM_RUN_CLOSURE, 0, reinterpret_cast<LPARAM>(owned.get()))) return false;
  owned.release();
  return true;
}

void RunPostedClosure(LPARAM message) {
  const std::unique_ptr<Closure> closure(reinterpret_cast<Closure*>(message));
  (*closure)();
}

}  // namespace launcher
