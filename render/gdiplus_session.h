// GDI+ started for as long as this object lives, and the painter's caches
// (render_caches.h) with it: made once GDI+ has started, destroyed right
// before it stops. Every program that paints starts and stops GDI+ this
// way: the launcher, the test programs and the benchmarks.
#pragma once

#include <windows.h>

#include <memory>

namespace launcher {

struct RenderCaches;

class GdiplusSession {
 public:
  GdiplusSession();
  ~GdiplusSession();
  GdiplusSession(const GdiplusSession&) = delete;
  GdiplusSession& operator=(const GdiplusSession&) = delete;

  // False when GDI+ refused to start; painting then draws nothing.
  bool started() const { return started_; }

 private:
  friend RenderCaches* ActiveRenderCaches();
  friend void ReleaseRenderCaches();

  ULONG_PTR token_ = 0;
  bool started_ = false;
  std::unique_ptr<RenderCaches> caches_;
};

// Lets go of everything the running session's caches keep (after waiting
// for a first paint's preparation), leaving them empty: the next paint
// loads again. For tests and benchmarks that start from nothing kept.
void ReleaseRenderCaches();

}  // namespace launcher
