// GDI+ started for as long as this object lives. The painter's process-wide
// caches (pictures, fonts) are released right before GDI+ stops, so every
// program that paints starts and stops it the same way: the launcher, the
// test programs and the benchmarks.
#pragma once

#include <windows.h>

namespace launcher {

class GdiplusSession {
 public:
  GdiplusSession();
  ~GdiplusSession();
  GdiplusSession(const GdiplusSession&) = delete;
  GdiplusSession& operator=(const GdiplusSession&) = delete;

  // False when GDI+ refused to start; painting then draws nothing.
  bool started() const { return started_; }

 private:
  ULONG_PTR token_ = 0;
  bool started_ = false;
};

}  // namespace launcher
