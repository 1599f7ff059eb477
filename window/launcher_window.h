// The launcher's one window as one object: it owns what the window shows
// (the UI state and its transitions), the pointer on the button, the install
// folder the workers read and patch, and the queue workers post to. The
// object is stored with its window and outlives it: the caller keeps it
// until the message loop has ended, so a handler that is still on the stack
// when the window goes (the close question's box) never runs on a freed
// object.
#pragma once

#include <windows.h>

#include <chrono>
#include <memory>
#include <optional>
#include <string>

#include "engine/verified_manifest.h"
#include "files/system_handles.h"
#include "render/frame_buffer.h"
#include "ui/pointer.h"
#include "ui/ui_transitions.h"
#include "window/post_to_window.h"

namespace launcher {

inline constexpr wchar_t WindowTitle[] = L"Stonewake";

class LauncherWindow : private ShellEffects {
 public:
  explicit LauncherWindow(std::wstring installFolder);
  LauncherWindow(const LauncherWindow&) = delete;
  LauncherWindow& operator=(const LauncherWindow&) = delete;
  ~LauncherWindow() override;

  // Registers the launcher's window class with the program's icon.
  static void RegisterWindowClass(HINSTANCE instance);

  // Creates the fixed-size window for `dpi`, centred on the screen (at 0, 0
  // when it is larger), shows it and starts the first release check. False
  // when the window could not be created.
  bool Open(HINSTANCE instance, int dpi, int showCommand);

  // Null before Open and once the window is destroyed.
  HWND handle() const { return window_; }
  const UiState& state() const { return ui_.state; }
  // What a worker holds to hand the window a closure.
  WindowPost Post() const { return {window_, closures_}; }

 private:
  static LRESULT CALLBACK Procedure(HWND window, UINT message, WPARAM wParam, LPARAM lParam);
  LRESULT HandleMessage(UINT message, WPARAM wParam, LPARAM lParam);

  void OnCreate();
  void OnPaint();
  void OnPrintClient(HDC target);
  void OnTimer(UINT_PTR id);
  void OnMouseMove(LPARAM position);
  void OnMouseLeave();
  void OnCaptureLost();
  bool OnSetCursor(LPARAM hitCode);
  void OnLeftButtonDown(LPARAM position);
  void OnLeftButtonUp(LPARAM position);
  void OnActivate(WPARAM state);
  void OnDpiChanged(WPARAM dpis, const RECT& suggested);
  void OnClose();
  void OnDestroy();
  void OnNcDestroy();

  void PaintFrame(HDC target);
  void AnimationStep();
  int HitTestAt(LPARAM position) const;
  void Apply(const PointerResult& result);

  // What the transitions ask of the window.
  void Repaint() override;
  bool StartCheckWorker() override;
  bool StartProbe() override;
  bool StartPatchWorker(std::shared_ptr<const ReleaseStatus> release) override;
  bool StartPlayCheck(const std::wstring& capturedVersion) override;
  void StartGame(const std::wstring& version) override;
  void EndWindow() override;

  HWND window_ = nullptr;
  const std::wstring installFolder_;
  LauncherUi ui_;
  PointerState pointer_;
  std::shared_ptr<ClosureQueue> closures_;
  // The last release that verified, shared by the check and both probes
  // (each worker holds its own reference: workers are never joined and may
  // outlive the window).
  std::shared_ptr<VerifiedManifestMemory> releaseMemory_;
  // Set when the window is destroyed: it ends the requests of the check and
  // the probes at once (each worker holds its own reference).
  std::shared_ptr<const KernelHandle> requestStop_;
  bool closeQuestionOpen_ = false;
  std::optional<std::chrono::steady_clock::time_point> clockOrigin_;
  // The off-screen frame, kept between paints.
  FrameBuffer frame_;
};

}  // namespace launcher
