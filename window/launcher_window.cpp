// The main window: window procedure, input and timers, the workers that
// run the engine on background threads, and the window side of the state
// transitions.
#include "window/launcher_window.h"

#include <dwmapi.h>
#include <shlobj.h>
#include <windowsx.h>

#include <chrono>
#include <cstdint>
#include <memory>
#include <optional>
#include <thread>
#include <utility>

#include "core/install_layout.h"
#include "core/paths.h"
#include "desktop/running_launcher.h"
#include "engine/install_size.h"
#include "engine/installed_version.h"
#include "engine/patch.h"
#include "engine/process_start.h"
#include "engine/release_check.h"
#include "engine/version_probe.h"
#include "ui/layout.h"
#include "render/paint_target.h"
#include "resources/resource_ids.h"
#include "ui/ui_transitions.h"
#include "window/post_to_window.h"

namespace launcher {

namespace {

constexpr DWORD WindowStyle = WS_CAPTION | WS_SYSMENU | WS_MINIMIZEBOX;
constexpr UINT_PTR ProbeTimer = 1;
constexpr UINT ProbeInterval = 15000;
constexpr UINT_PTR AnimationTimer = 2;
constexpr UINT AnimationInterval = 33;
constexpr int ButtonTarget = 1;
constexpr wchar_t CloseQuestion[] = L"Stop the download? It carries on from here the next time you open the launcher.";

// Title bar attributes older systems may not know; they refuse them.
constexpr DWORD UseImmersiveDarkMode = 20;
constexpr DWORD BorderColor = 34;
constexpr DWORD CaptionColor = 35;
constexpr DWORD TextColor = 36;

LauncherUi& Ui();

// The window thread's own values beside UiState.
struct WindowValues {
  HWND window = nullptr;  // null again once the window is destroyed
  std::wstring installFolder;
  int hoverTarget = 0;
  int pressedTarget = 0;
  bool trackingLeave = false;
  bool closeQuestionOpen = false;
  std::optional<std::chrono::steady_clock::time_point> clockOrigin;
};

WindowValues& Window() {
  static WindowValues values;
  return values;
}

// --- Workers: each takes copies, calls the engine, and posts one closing
// closure; nothing but the closure reaches the window thread.

using FailureTransition = void (LauncherUi::*)(std::wstring);

void PostFailure(HWND window, FailureTransition failed, const std::wstring& message) noexcept {
  try {
    PostToWindow(window, [failed, message] { (Ui().*failed)(message); });
  } catch (...) {
    // Not even the failure could be posted (out of memory): nothing is left
    // to tell the window with.
  }
}

// Runs a worker's body so that nothing ends the process from a worker
// thread: a LauncherError becomes the worker's failure closure with its
// sentence, anything else the same closure with a plain one, so `busy` or
// `probeInFlight` is always cleared.
template <typename Body>
void RunWorker(HWND window, FailureTransition failed, Body body) noexcept {
  try {
    body();
  } catch (const LauncherError& error) {
    PostFailure(window, failed, error.message);
  } catch (...) {
    PostFailure(window, failed, UnexpectedFailureText);
  }
}

bool StartThread(std::function<void()> body) {
  try {
    std::thread(std::move(body)).detach();
    return true;
  } catch (...) {
    return false;
  }
}

void CheckWorker(HWND window, const std::wstring& folder) {
  RunWorker(window, &LauncherUi::CheckFailed, [&] {
    auto release = std::make_shared<const ReleaseStatus>(CheckRelease(folder));
    std::wstring installed = ReadInstalledVersion(folder);
    std::wstring size = InstallSizeText(folder);
    PostToWindow(window, [release = std::move(release), installed = std::move(installed), size = std::move(size)] {
      Ui().ApplyCheckResult(release, installed, size);
    });
  });
}

void ProbeWorker(HWND window, const std::wstring& folder) {
  RunWorker(window, &LauncherUi::ProbeFailed,
            [&] { PostToWindow(window, [version = ProbeReleaseVersion(folder)] { Ui().ProbeSucceeded(version); }); });
}

void PlayCheckWorker(HWND window, const std::wstring& folder, const std::wstring& captured) {
  RunWorker(window, &LauncherUi::PlayCheckFailed, [&] {
    PostToWindow(window,
                 [version = ProbeReleaseVersion(folder), captured] { Ui().PlayCheckSucceeded(version, captured); });
  });
}

// Posts each progress report that differs from the one before; repeats
// would only keep the window thread busy without changing a pixel.
class ProgressPoster {
 public:
  explicit ProgressPoster(HWND window) : window_(window) {}

  void operator()(const std::wstring& text, std::int32_t percent) {
    if (percent == lastPercent_ && text == lastText_) return;
    lastText_ = text;
    lastPercent_ = percent;
    PostToWindow(window_, [text, percent] { Ui().PatchProgressed(text, percent); });
  }

 private:
  HWND window_;
  std::wstring lastText_;
  std::int32_t lastPercent_ = -1;
};

void PatchWorker(HWND window, const std::wstring& folder, std::shared_ptr<const ReleaseStatus> release) {
  RunWorker(window, &LauncherUi::PatchFailed, [&] {
    if (ApplyRelease(folder, *release, ProgressPoster(window))) {
      PostToWindow(window, [] { Ui().LauncherReplaced(); });
      return;
    }
    std::wstring version = release->version;
    // Shortcuts and pinned icons take their picture from the game's
    // executable; the shell redraws them only when told it changed.
    const std::wstring game = JoinPath(JoinPath(folder, GameFolderName), GameExecutableName);
    SHChangeNotify(SHCNE_UPDATEITEM, SHCNF_PATHW | SHCNF_FLUSHNOWAIT, game.c_str(), nullptr);
    SHChangeNotify(SHCNE_ASSOCCHANGED, SHCNF_FLUSHNOWAIT, nullptr, nullptr);
    std::wstring size = InstallSizeText(folder);
    PostToWindow(window, [version = std::move(version), size = std::move(size)] { Ui().PatchFinished(version, size); });
  });
}

// --- The window side of the transitions.

// Invalidates the whole client area without erasing. InvalidateRect with no
// window would invalidate every window, so nothing happens once the window
// is gone.
void Repaint() {
  if (Window().window) InvalidateRect(Window().window, nullptr, FALSE);
}

class WindowEffects : public ShellEffects {
 public:
  void Repaint() override { launcher::Repaint(); }

  bool StartCheckWorker() override {
    return StartThread([window = Window().window, folder = Window().installFolder] { CheckWorker(window, folder); });
  }

  bool StartProbe() override {
    return StartThread([window = Window().window, folder = Window().installFolder] { ProbeWorker(window, folder); });
  }

  bool StartPatchWorker(std::shared_ptr<const ReleaseStatus> release) override {
    return StartThread([window = Window().window, folder = Window().installFolder, release = std::move(release)] {
      PatchWorker(window, folder, release);
    });
  }

  bool StartPlayCheck(const std::wstring& capturedVersion) override {
    return StartThread([window = Window().window, folder = Window().installFolder, capturedVersion] {
      PlayCheckWorker(window, folder, capturedVersion);
    });
  }

  void StartGame(const std::wstring& version) override { launcher::StartGame(Window().installFolder, version); }

  void EndWindow() override {
    if (Window().window) DestroyWindow(Window().window);
  }
};

LauncherUi& Ui() {
  static WindowEffects effects;
  static LauncherUi ui(effects);
  return ui;
}

// --- Painting and input.

// Pointer positions arrive as two signed 16-bit values: left of or above a
// window they are negative and must not wrap into large positive ones.
int HitTest(LPARAM position) {
  const int x = GET_X_LPARAM(position);
  const int y = GET_Y_LPARAM(position);
  const PixelRect button = ButtonRect(Ui().state.dpi);
  return x >= button.left && x < button.right && y >= button.top && y < button.bottom ? ButtonTarget : 0;
}

// Every frame is painted off screen and copied in one piece, so the window
// never shows a half-painted scene or flickers.
void OnPaint(HWND window) {
  PAINTSTRUCT paint;
  const HDC target = BeginPaint(window, &paint);
  RECT client;
  GetClientRect(window, &client);
  const int width = client.right - client.left;
  const int height = client.bottom - client.top;
  {
    PaintTarget frame(width, height, PixelStore::ScreenCompatible);
    if (frame) {
      frame.Paint(Ui().state, Window().pressedTarget);
      BitBlt(target, 0, 0, width, height, frame.dc(), 0, 0, SRCCOPY);
    }
  }
  EndPaint(window, &paint);
}

void AnimationStep(HWND window) {
  WindowValues& values = Window();
  UiState& state = Ui().state;
  const auto now = std::chrono::steady_clock::now();
  if (!values.clockOrigin) values.clockOrigin = now;
  const double t = std::chrono::duration<double>(now - *values.clockOrigin).count();
  double dt = t - state.animTime;
  state.animTime = t;
  // A long pause (a held title bar, a suspended machine) must not make the
  // glow jump.
  if (dt > 0.1) dt = 0.1;
  const float target = values.hoverTarget == ButtonTarget && ButtonIsActive(state) ? 1.0f : 0.0f;
  float k = static_cast<float>(dt) * 14.0f;
  if (k > 1.0f) k = 1.0f;
  state.hoverGlow = state.hoverGlow + k * (target - state.hoverGlow);
  if (!IsIconic(window)) Repaint();
}

void OnTimer(HWND window, WPARAM id) {
  if (id == ProbeTimer) {
    Ui().AskForPatch();
  } else if (id == AnimationTimer) {
    AnimationStep(window);
  }
}

void SetPointerCursor(int hit) {
  const bool hand = hit == ButtonTarget && ButtonIsActive(Ui().state);
  SetCursor(LoadCursorW(nullptr, hand ? IDC_HAND : IDC_ARROW));
}

void OnMouseMove(HWND window, LPARAM position) {
  WindowValues& values = Window();
  const int hit = HitTest(position);
  if (hit != values.hoverTarget) {
    values.hoverTarget = hit;
    Repaint();
  }
  SetPointerCursor(hit);
  if (!values.trackingLeave) {
    TRACKMOUSEEVENT track = {sizeof track, TME_LEAVE, window, 0};
    TrackMouseEvent(&track);
    values.trackingLeave = true;
  }
}

void OnMouseLeave() {
  WindowValues& values = Window();
  values.trackingLeave = false;
  if (values.hoverTarget != 0 || values.pressedTarget != 0) {
    values.hoverTarget = 0;
    values.pressedTarget = 0;
    Repaint();
  }
}

// Losing the capture (another window took it, a menu or a message box
// opened) ends the press: a release that arrives later is no click, and the
// button is not left drawn as held down.
void OnCaptureLost() {
  if (Window().pressedTarget != 0) {
    Window().pressedTarget = 0;
    Repaint();
  }
}

bool OnSetCursor(LPARAM hitCode) {
  if (LOWORD(hitCode) != HTCLIENT || Window().hoverTarget != ButtonTarget || !ButtonIsActive(Ui().state)) return false;
  SetCursor(LoadCursorW(nullptr, IDC_HAND));
  return true;
}

void OnLeftButtonDown(HWND window, LPARAM position) {
  const int hit = HitTest(position);
  if (hit == 0 || !ButtonIsActive(Ui().state)) return;
  Window().pressedTarget = hit;
  SetCapture(window);
  Repaint();
}

void OnLeftButtonUp(HWND window, LPARAM position) {
  WindowValues& values = Window();
  // Read before the capture goes: releasing it sends WM_CAPTURECHANGED,
  // which clears the press.
  const int pressed = values.pressedTarget;
  if (GetCapture() == window) ReleaseCapture();
  const int hit = HitTest(position);
  values.pressedTarget = 0;
  Repaint();
  if (pressed != 0 && hit == pressed && pressed == ButtonTarget) Ui().Click();
}

void OnClose(HWND window) {
  WindowValues& values = Window();
  if (Ui().state.phase != Patching) {
    DestroyWindow(window);
    return;
  }
  if (values.closeQuestionOpen) return;
  values.closeQuestionOpen = true;
  const int answer = MessageBoxW(window, CloseQuestion, WindowTitle, MB_YESNO | MB_ICONQUESTION);
  values.closeQuestionOpen = false;
  // The box's own message loop keeps running closures: a finished patch
  // that replaced the launcher may have destroyed the window meanwhile.
  if (answer == IDYES && values.window == window) DestroyWindow(window);
}

void OnDestroy(HWND window) {
  KillTimer(window, ProbeTimer);
  KillTimer(window, AnimationTimer);
  Window().window = nullptr;
  PostQuitMessage(0);
}

LRESULT HandleMessage(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
  switch (message) {
    case WM_PAINT:
      OnPaint(window);
      return 0;
    case WM_ERASEBKGND:
      return 1;
    case WM_TIMER:
      OnTimer(window, wParam);
      return 0;
    case WM_MOUSEMOVE:
      OnMouseMove(window, lParam);
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
      OnLeftButtonDown(window, lParam);
      return 0;
    case WM_LBUTTONUP:
      OnLeftButtonUp(window, lParam);
      return 0;
    case WM_ACTIVATE:
      // The default gives the window the keyboard focus (Alt+F4 and the
      // system menu keys).
      DefWindowProcW(window, message, wParam, lParam);
      if (LOWORD(wParam) != WA_INACTIVE) Ui().AskForPatch();
      return 0;
    case WM_CLOSE:
      OnClose(window);
      return 0;
    case WM_DESTROY:
      OnDestroy(window);
      return 0;
    case WM_RUN_CLOSURE:
      RunPostedClosure(lParam);
      return 0;
  }
  return DefWindowProcW(window, message, wParam, lParam);
}

// No exception may cross into the system's message dispatch, which cannot
// unwind it; a surprise in one message must not end the launcher.
LRESULT CALLBACK WindowProcedure(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
  try {
    return HandleMessage(window, message, wParam, lParam);
  } catch (...) {
    return 0;
  }
}

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

}  // namespace

void SetInstallFolder(std::wstring folder) { Window().installFolder = std::move(folder); }

void RegisterLauncherWindowClass(HINSTANCE instance) {
  WNDCLASSEXW windowClass = {};
  windowClass.cbSize = sizeof windowClass;
  windowClass.style = CS_HREDRAW | CS_VREDRAW;
  windowClass.lpfnWndProc = WindowProcedure;
  windowClass.hInstance = instance;
  windowClass.hIcon = LoadIconW(instance, MAKEINTRESOURCEW(STONEWAKE_ICON_RESOURCE));
  windowClass.hIconSm = windowClass.hIcon;
  windowClass.hCursor = LoadCursorW(nullptr, IDC_ARROW);
  windowClass.lpszClassName = LauncherWindowClass;
  RegisterClassExW(&windowClass);
}

HWND CreateLauncherWindow(HINSTANCE instance, int dpi) {
  Ui().state.dpi = dpi;
  RECT outer = {0, 0, LayoutWidth * dpi / 96, LayoutHeight * dpi / 96};
  AdjustWindowRectExForDpi(&outer, WindowStyle, FALSE, 0, dpi);
  const int width = outer.right - outer.left;
  const int height = outer.bottom - outer.top;
  const int x = (GetSystemMetrics(SM_CXSCREEN) - width) / 2;
  const int y = (GetSystemMetrics(SM_CYSCREEN) - height) / 2;
  const HWND window = CreateWindowExW(0, LauncherWindowClass, WindowTitle, WindowStyle, x > 0 ? x : 0, y > 0 ? y : 0,
                                      width, height, nullptr, nullptr, instance, nullptr);
  if (!window) return nullptr;
  Window().window = window;
  SetTitleBarColours(window);
  return window;
}

void StartLauncherWindow(HWND window, int showCommand) {
  SetTimer(window, ProbeTimer, ProbeInterval, nullptr);
  SetTimer(window, AnimationTimer, AnimationInterval, nullptr);
  ShowWindow(window, showCommand);
  UpdateWindow(window);
  Ui().StartCheck();
}

}  // namespace launcher
