// The sample game: what a release ships as "game/Stonewake.exe" until a
// studio puts its own game there. It shows how the launcher started it (the
// version after "--launcher" and the whole command line) and nothing else,
// so a player or a test can see at a glance that the right version started.
#include <windows.h>

#include <string>

#include "core/unique_handle.h"
#include "files/system_handles.h"

namespace {

constexpr wchar_t kClassName[] = L"StonewakeSampleGame";

using GdiObject = launcher::UniqueHandle<HGDIOBJ, &DeleteObject>;

// The word after "--launcher ", or empty when the launcher did not start us.
std::wstring LauncherVersion(const std::wstring& commandLine) {
  constexpr std::wstring_view option = L"--launcher ";
  const std::size_t at = commandLine.find(option);
  if (at == std::wstring::npos) return {};
  const std::size_t begin = at + option.size();
  const std::size_t end = commandLine.find(L' ', begin);
  return commandLine.substr(begin, end == std::wstring::npos ? std::wstring::npos : end - begin);
}

struct GameText {
  std::wstring version;
  std::wstring commandLine;
};

GameText& Text() {
  static GameText text;
  return text;
}

// The title and the body text. The fonts and their selection end here,
// before the paint's DC is given back.
void PaintText(HDC dc, const RECT& client) {
  const int dpi = GetDeviceCaps(dc, LOGPIXELSY);
  const GdiObject largeFont(CreateFontW(-MulDiv(20, dpi, 72), 0, 0, 0, FW_BOLD, FALSE, FALSE, FALSE, DEFAULT_CHARSET, 0,
                                        0, CLEARTYPE_QUALITY, 0, L"Segoe UI"));
  const GdiObject smallFont(CreateFontW(-MulDiv(10, dpi, 72), 0, 0, 0, FW_NORMAL, FALSE, FALSE, FALSE, DEFAULT_CHARSET,
                                        0, 0, CLEARTYPE_QUALITY, 0, L"Segoe UI"));
  SetBkMode(dc, TRANSPARENT);
  const int margin = MulDiv(24, dpi, 96);
  RECT box = {client.left + margin, client.top + margin, client.right - margin, client.bottom - margin};

  // Declared after the fonts, so the DC's own font is selected back before
  // they are deleted.
  const launcher::SelectedObject selection(dc, largeFont.get());
  SetTextColor(dc, RGB(242, 178, 92));
  const std::wstring title =
      Text().version.empty() ? L"Stonewake (started without the launcher)" : L"Stonewake " + Text().version;
  box.top += DrawTextW(dc, title.c_str(), -1, &box, DT_LEFT | DT_TOP | DT_WORDBREAK | DT_NOPREFIX);
  box.top += margin / 2;

  SelectObject(dc, smallFont.get());
  SetTextColor(dc, RGB(226, 216, 196));
  const std::wstring body =
      L"This is the sample game that the release ships until the studio's game takes its "
      L"place.\n\nCommand line:\n" +
      Text().commandLine;
  DrawTextW(dc, body.c_str(), -1, &box, DT_LEFT | DT_TOP | DT_WORDBREAK | DT_NOPREFIX | DT_EDITCONTROL);
}

void Paint(HWND window) {
  PAINTSTRUCT paint;
  HDC dc = BeginPaint(window, &paint);
  RECT client;
  GetClientRect(window, &client);
  const GdiObject background(CreateSolidBrush(RGB(24, 20, 17)));
  FillRect(dc, &client, static_cast<HBRUSH>(background.get()));
  PaintText(dc, client);
  EndPaint(window, &paint);
}

LRESULT CALLBACK WindowProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
  switch (message) {
    case WM_PAINT:
      Paint(window);
      return 0;
    case WM_DESTROY:
      PostQuitMessage(0);
      return 0;
    default:
      return DefWindowProcW(window, message, wParam, lParam);
  }
}

}  // namespace

int WINAPI wWinMain(HINSTANCE instance, HINSTANCE, PWSTR, int show) {
  SetProcessDpiAwarenessContext(DPI_AWARENESS_CONTEXT_SYSTEM_AWARE);
  Text().commandLine = GetCommandLineW();
  Text().version = LauncherVersion(Text().commandLine);

  WNDCLASSEXW windowClass = {};
  windowClass.cbSize = sizeof windowClass;
  windowClass.style = CS_HREDRAW | CS_VREDRAW;
  windowClass.lpfnWndProc = WindowProc;
  windowClass.hInstance = instance;
  windowClass.hCursor = LoadCursorW(nullptr, IDC_ARROW);
  windowClass.lpszClassName = kClassName;
  RegisterClassExW(&windowClass);

  // The title names the version too, so a window list tells which one runs.
  const std::wstring title = L"Stonewake sample game " + (Text().version.empty() ? L"-" : Text().version);
  const int dpi = static_cast<int>(GetDpiForSystem());
  HWND window = CreateWindowExW(0, kClassName, title.c_str(), WS_OVERLAPPEDWINDOW, CW_USEDEFAULT, CW_USEDEFAULT,
                                MulDiv(640, dpi, 96), MulDiv(360, dpi, 96), nullptr, nullptr, instance, nullptr);
  if (!window) return 1;
  ShowWindow(window, show);
  UpdateWindow(window);

  MSG message;
  while (GetMessageW(&message, nullptr, 0, 0) > 0) {
    TranslateMessage(&message);
    DispatchMessageW(&message);
  }
  return static_cast<int>(message.wParam);
}
