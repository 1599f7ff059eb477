#include "window/launcher_window.h"

#include <dwmapi.h>
#include <windowsx.h>

#include <utility>

#include "desktop/running_launcher.h"
#include "engine/installed_version.h"
#include "engine/process_start.h"
#include "files/trace.h"
#include "resources/resource_ids.h"
#include "ui/animation.h"
#include "ui/layout.h"
#include "window/workers.h"

namespace launcher {

namespace {

constexpr DWORD WindowStyle = WS_CAPTION | WS_SYSMENU | WS_MINIMIZEBOX;
constexpr UINT_PTR ProbeTimer = 1;
constexpr UINT ProbeInterval = 15000;
constexpr UINT_PTR AnimationTimer = 2;
constexpr UINT AnimationInterval = 33;
constexpr wchar_t CloseQuestion[] = L"Stop the download? It carries on from here the next time you open the launcher.";

// Title bar attributes older systems may not know; they refuse them.
constexpr DWORD UseImmersiveDarkMode = 20;
constexpr DWORD BorderColor = 34;
constexpr DWORD CaptionColor = 35;
constexpr DWORD TextColor = 36;

void SetTitleBarColours(HWND window) {
  const struct {
    DWORD attribute;
    DWORD value;
  } attributes[] = {
      {UseImmersiveDarkMode, 1},
      {CaptionColor, RGB(14, 12, 10)},
      {BorderColor, RGB(112, 86, 48)},
      {TextColor, RGB(226, 216, 196)},
  };
  for (const auto& a : attributes) DwmSetWindowAttribute(window, a.attribute, &a.value, sizeof a.value);
}

// BeginPaint's pair: the paint ends however the painting does, since a
// region never validated would bring WM_PAINT back at once, for ever.
class PaintScope {
 public:
  explicit PaintScope(HWND window) : window_(window) { dc_ = BeginPaint(window, &paint_); }
  ~PaintScope() { EndPaint(window_, &paint_); }
  PaintScope(const PaintScope&) = delete;
  PaintScope& operator=(const PaintScope&) = delete;
  HDC dc() const { return dc_; }

 private:
  HWND window_;
  PAINTSTRUCT paint_;
  HDC dc_;
};

}  // namespace

LauncherWindow::LauncherWindow(std::wstring installFolder)
    : installFolder_(std::move(installFolder)),
      ui_(*this),
      closures_(std::make_shared<ClosureQueue>()),
      releaseMemory_(std::make_shared<VerifiedManifestMemory>()),
      requestStop_(std::make_shared<const KernelHandle>(CreateEventW(nullptr, TRUE, FALSE, nullptr))) {}

LauncherWindow::~LauncherWindow() {
  if (window_) DestroyWindow(window_);
}

void LauncherWindow::RegisterWindowClass(HINSTANCE instance) {
  WNDCLASSEXW windowClass = {};
  windowClass.cbSize = sizeof windowClass;
  windowClass.style = CS_HREDRAW | CS_VREDRAW;
  windowClass.lpfnWndProc = Procedure;
  windowClass.hInstance = instance;
  windowClass.hIcon = LoadIconW(instance, MAKEINTRESOURCEW(STONEWAKE_ICON_RESOURCE));
  windowClass.hIconSm = windowClass.hIcon;
  windowClass.hCursor = LoadCursorW(nullptr, IDC_ARROW);
  windowClass.lpszClassName = LauncherWindowClass;
  RegisterClassExW(&windowClass);
}

bool LauncherWindow::Open(HINSTANCE instance, int dpi, int showCommand) {
  ui_.state.dpi = dpi;
  RECT outer = {0, 0, kLayoutWidth * dpi / 96, kLayoutHeight * dpi / 96};
  AdjustWindowRectExForDpi(&outer, WindowStyle, FALSE, 0, dpi);
  const int width = outer.right - outer.left;
  const int height = outer.bottom - outer.top;
  const int x = (GetSystemMetrics(SM_CXSCREEN) - width) / 2;
  const int y = (GetSystemMetrics(SM_CYSCREEN) - height) / 2;
  // The procedure stores `this` with the window at WM_NCCREATE and sets
  // `window_`; WM_CREATE starts the timers.
  if (!CreateWindowExW(0, LauncherWindowClass, WindowTitle, WindowStyle, x > 0 ? x : 0, y > 0 ? y : 0, width, height,
                       nullptr, nullptr, instance, this)) {
    return false;
  }
  ShowWindow(window_, showCommand);
  UpdateWindow(window_);
  ui_.StartCheck();
  return true;
}

// The object arrives with WM_NCCREATE and is kept in the window's user data
// until WM_NCDESTROY; messages before and after go to the default.
LRESULT CALLBACK LauncherWindow::Procedure(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
  if (message == WM_NCCREATE) {
    auto* self = static_cast<LauncherWindow*>(reinterpret_cast<CREATESTRUCTW*>(lParam)->lpCreateParams);
    self->window_ = window;
    SetWindowLongPtrW(window, GWLP_USERDATA, reinterpret_cast<LONG_PTR>(self));
  }
  auto* self = reinterpret_cast<LauncherWindow*>(GetWindowLongPtrW(window, GWLP_USERDATA));
  if (!self) return DefWindowProcW(window, message, wParam, lParam);
  // No exception may cross into the system's message dispatch, which cannot
  // unwind it; a surprise in one message must not end the launcher.
  try {
    return self->HandleMessage(message, wParam, lParam);
  } catch (...) {
    TraceCaught(L"a window message");
    return 0;
  }
}

LRESULT LauncherWindow::HandleMessage(UINT message, WPARAM wParam, LPARAM lParam) {
  const HWND window = window_;  // WM_NCDESTROY forgets it before the default runs
  switch (message) {
    case WM_CREATE:
      OnCreate();
      return 0;
    case WM_PAINT:
      OnPaint();
      return 0;
    case WM_PRINTCLIENT:
      OnPrintClient(reinterpret_cast<HDC>(wParam));
      return 0;
    case WM_ERASEBKGND:
      return 1;  // the paint covers the whole client area
    case WM_TIMER:
      OnTimer(wParam);
      return 0;
    case WM_MOUSEMOVE:
      OnMouseMove(lParam);
      return 0;
    case WM_MOUSELEAVE:
      OnMouseLeave();
      return 0;
    case WM_CAPTURECHANGED:
      OnCaptureLost();
      return 0;
    case WM_CANCELMODE:
      OnCaptureLost();
      break;  // the default releases the capture
    case WM_SETCURSOR:
      if (OnSetCursor(lParam)) return TRUE;
      break;
    case WM_LBUTTONDOWN:
      OnLeftButtonDown(lParam);
      return 0;
    case WM_LBUTTONUP:
      OnLeftButtonUp(lParam);
      return 0;
    case WM_ACTIVATE:
      OnActivate(wParam);
      break;  // the default gives the keyboard focus (Alt+F4, system menu)
    case WM_DPICHANGED:
      OnDpiChanged(wParam, *reinterpret_cast<const RECT*>(lParam));
      return 0;
    case WM_CLOSE:
      OnClose();
      return 0;
    case WM_DESTROY:
      OnDestroy();
      return 0;
    case WM_NCDESTROY:
      OnNcDestroy();
      break;
    case WM_RUN_CLOSURE:
      closures_->RunPending(ui_);
      return 0;
  }
  return DefWindowProcW(window, message, wParam, lParam);
}

void LauncherWindow::OnCreate() {
  // The footer names what is installed from the start, so a launcher that
  // cannot reach the release server still shows the installed version, not
  // "Not installed yet"; a failed check leaves it as it is.
  ui_.state.installedVersion = ReadInstalledVersion(installFolder_);
  SetTitleBarColours(window_);
  SetTimer(window_, ProbeTimer, ProbeInterval, nullptr);
  SetTimer(window_, AnimationTimer, AnimationInterval, nullptr);
}

void LauncherWindow::OnPaint() {
  const PaintScope paint(window_);
  PaintFrame(paint.dc());
}

void LauncherWindow::OnPrintClient(HDC target) { PaintFrame(target); }

// Every frame is painted off screen and copied in one piece, so the window
// never shows a half-painted scene or flickers.
void LauncherWindow::PaintFrame(HDC target) {
  RECT client;
  GetClientRect(window_, &client);
  frame_.Present(target, client.right - client.left, client.bottom - client.top, ui_.state, pointer_.pressedTarget);
}

void LauncherWindow::OnTimer(UINT_PTR id) {
  if (id == ProbeTimer) {
    ui_.AskForPatch();
  } else if (id == AnimationTimer) {
    AnimationStep();
  }
}

void LauncherWindow::AnimationStep() {
  const auto now = std::chrono::steady_clock::now();
  if (!clockOrigin_) clockOrigin_ = now;
  AdvanceAnimation(ui_.state, std::chrono::duration<double>(now - *clockOrigin_).count(),
                   ShowsHandCursor(pointer_, ui_.state));
  // A minimised window keeps its clock but paints nothing.
  if (!IsIconic(window_)) Repaint();
}

// Positions arrive as two signed 16-bit values: left of or above the window
// they are negative and must stay so.
int LauncherWindow::HitTestAt(LPARAM position) const {
  return HitTest(GET_X_LPARAM(position), GET_Y_LPARAM(position), ui_.state.dpi);
}

void LauncherWindow::Apply(const PointerResult& result) {
  if (result.repaint) Repaint();
  if (result.capture) SetCapture(window_);
  if (result.trackLeave) {
    TRACKMOUSEEVENT track = {sizeof track, TME_LEAVE, window_, 0};
    TrackMouseEvent(&track);
  }
}

void LauncherWindow::OnMouseMove(LPARAM position) {
  const PointerResult result = PointerMoved(pointer_, HitTestAt(position), ui_.state);
  SetCursor(LoadCursorW(nullptr, result.handCursor ? IDC_HAND : IDC_ARROW));
  Apply(result);
}

void LauncherWindow::OnMouseLeave() { Apply(PointerLeft(pointer_)); }

// Losing the capture (another window took it, a menu or a message box
// opened) ends the press: a release that arrives later is no click, and the
// button is not left drawn as held down.
void LauncherWindow::OnCaptureLost() { Apply(CaptureLost(pointer_)); }

bool LauncherWindow::OnSetCursor(LPARAM hitCode) {
  if (LOWORD(hitCode) != HTCLIENT || !ShowsHandCursor(pointer_, ui_.state)) return false;
  SetCursor(LoadCursorW(nullptr, IDC_HAND));
  return true;
}

void LauncherWindow::OnLeftButtonDown(LPARAM position) {
  Apply(PointerPressed(pointer_, HitTestAt(position), ui_.state));
}

void LauncherWindow::OnLeftButtonUp(LPARAM position) {
  // The release is judged before the capture goes: releasing it sends
  // WM_CAPTURECHANGED, which would end the press first.
  const PointerResult result = PointerReleased(pointer_, HitTestAt(position));
  if (GetCapture() == window_) ReleaseCapture();
  Apply(result);
  if (result.click) ui_.Click();
}

void LauncherWindow::OnActivate(WPARAM state) {
  if (LOWORD(state) != WA_INACTIVE) ui_.AskForPatch();
}

// Moved to a monitor of another DPI (the process is per-monitor aware): the
// window takes the rectangle the system suggests, which holds the client
// area at the new DPI, and the scene and the button's hit area follow the
// new DPI, so text stays sharp instead of being stretched as a bitmap.
void LauncherWindow::OnDpiChanged(WPARAM dpis, const RECT& suggested) {
  ui_.state.dpi = HIWORD(dpis);
  SetWindowPos(window_, nullptr, suggested.left, suggested.top, suggested.right - suggested.left,
               suggested.bottom - suggested.top, SWP_NOZORDER | SWP_NOACTIVATE);
  Repaint();
}

void LauncherWindow::OnClose() {
  if (ui_.state.phase != Patching) {
    DestroyWindow(window_);
    return;
  }
  if (closeQuestionOpen_) return;
  const HWND asked = window_;
  closeQuestionOpen_ = true;
  const int answer = MessageBoxW(asked, CloseQuestion, WindowTitle, MB_YESNO | MB_ICONQUESTION);
  closeQuestionOpen_ = false;
  // The box's own message loop keeps running closures: a finished patch
  // that replaced the launcher may have destroyed the window meanwhile.
  if (answer == IDYES && window_ == asked) DestroyWindow(asked);
}

void LauncherWindow::OnDestroy() {
  if (*requestStop_) SetEvent(requestStop_->get());
  KillTimer(window_, ProbeTimer);
  KillTimer(window_, AnimationTimer);
  frame_.Release();
  PostQuitMessage(0);
}

void LauncherWindow::OnNcDestroy() {
  SetWindowLongPtrW(window_, GWLP_USERDATA, 0);
  window_ = nullptr;
}

// Invalidates the whole client area without erasing. InvalidateRect with no
// window would invalidate every window, so nothing happens once it is gone.
void LauncherWindow::Repaint() {
  if (window_) InvalidateRect(window_, nullptr, FALSE);
}

bool LauncherWindow::StartCheckWorker() {
  return launcher::StartCheckWorker(Post(), installFolder_, releaseMemory_, requestStop_);
}

bool LauncherWindow::StartProbe() { return StartProbeWorker(Post(), installFolder_, releaseMemory_, requestStop_); }

bool LauncherWindow::StartPatchWorker(std::shared_ptr<const ReleaseStatus> release) {
  return launcher::StartPatchWorker(Post(), installFolder_, std::move(release));
}

bool LauncherWindow::StartPlayCheck(const std::wstring& capturedVersion) {
  return StartPlayCheckWorker(Post(), installFolder_, releaseMemory_, requestStop_, capturedVersion);
}

void LauncherWindow::StartGame(const std::wstring& version) {
  // The player reads the sentence the caller shows; the trace keeps the code.
  try {
    launcher::StartGame(installFolder_, version);
  } catch (const LauncherError&) {
    TraceCaught(L"starting the game");
    throw;
  }
}

void LauncherWindow::EndWindow() {
  if (window_) DestroyWindow(window_);
}

}  // namespace launcher
