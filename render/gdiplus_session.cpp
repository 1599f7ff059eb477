#include "render/gdiplus_session.h"

// WIN32_LEAN_AND_MEAN leaves out the COM declarations gdiplus.h builds on.
#include <objidl.h>

#include <gdiplus.h>

#include "render/render_caches.h"

namespace launcher {
namespace {

// The session whose caches the painter uses: the first that started and
// still runs. Set and cleared on the thread that makes and ends sessions.
GdiplusSession* activeSession = nullptr;

}  // namespace

GdiplusSession::GdiplusSession() {
  Gdiplus::GdiplusStartupInput input;
  started_ = Gdiplus::GdiplusStartup(&token_, &input, nullptr) == Gdiplus::Ok;
  if (started_ && !activeSession) {
    caches_ = std::make_unique<RenderCaches>();
    activeSession = this;
  }
}

GdiplusSession::~GdiplusSession() {
  if (!started_) return;
  if (caches_) {
    // The preparing thread still reaches the caches through the session.
    caches_->preparation.Finish();
    if (activeSession == this) activeSession = nullptr;
    caches_.reset();
  }
  Gdiplus::GdiplusShutdown(token_);
}

RenderCaches* ActiveRenderCaches() { return activeSession ? activeSession->caches_.get() : nullptr; }

void ReleaseRenderCaches() {
  if (!activeSession) return;
  std::unique_ptr<RenderCaches>& caches = activeSession->caches_;
  // Joined first: while the old caches go, the pointer to them is already
  // being replaced, and the preparing thread must not look for them then.
  caches->preparation.Finish();
  caches.reset();
  caches = std::make_unique<RenderCaches>();
}

}  // namespace launcher
