#include "render/gdiplus_session.h"

// WIN32_LEAN_AND_MEAN leaves out the COM declarations gdiplus.h builds on.
#include <objidl.h>

#include <gdiplus.h>

#include "render/scene.h"

namespace launcher {

GdiplusSession::GdiplusSession() {
  Gdiplus::GdiplusStartupInput input;
  started_ = Gdiplus::GdiplusStartup(&token_, &input, nullptr) == Gdiplus::Ok;
}

GdiplusSession::~GdiplusSession() {
  if (!started_) return;
  ReleaseRenderCaches();
  Gdiplus::GdiplusShutdown(token_);
}

}  // namespace launcher
