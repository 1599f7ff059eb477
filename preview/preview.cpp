#include "preview/preview.h"

#include <cwchar>
#include <optional>
#include <vector>

#include "release/paths.h"
#include "render/button_layout.h"
#include "render/gdiplus_handles.h"
#include "render/scene.h"
#include "shell/ui_state.h"

namespace launcher {
namespace {

constexpr int kPreviewDpi = 144;
constexpr int kPreviewWidth = 560 * kPreviewDpi / 96;
constexpr int kPreviewHeight = 340 * kPreviewDpi / 96;

using DcHandle = UniqueHandle<HDC, &DeleteDC>;
using BitmapObject = UniqueHandle<HBITMAP, &DeleteObject>;

// Puts a DC's previous object back when the scope ends.
class SelectedObject {
 public:
  SelectedObject(HDC dc, HGDIOBJ object) : dc_(dc), previous_(SelectObject(dc, object)) {}
  ~SelectedObject() { SelectObject(dc_, previous_); }
  SelectedObject(const SelectedObject&) = delete;
  SelectedObject& operator=(const SelectedObject&) = delete;

 private:
  HDC dc_;
  HGDIOBJ previous_;
};

// The class id of GDI+'s PNG encoder; a later match wins.
std::optional<CLSID> PngEncoder() {
  UINT count = 0, bytes = 0;
  if (gdip::GdipGetImageEncodersSize(&count, &bytes) != Gdiplus::Ok || count == 0 || bytes == 0) return std::nullopt;
  std::vector<BYTE> buffer(bytes);
  auto* codecs = reinterpret_cast<Gdiplus::ImageCodecInfo*>(buffer.data());
  if (gdip::GdipGetImageEncoders(count, bytes, codecs) != Gdiplus::Ok) return std::nullopt;
  std::optional<CLSID> png;
  for (UINT i = 0; i < count; ++i) {
    if (codecs[i].MimeType && std::wcscmp(codecs[i].MimeType, L"image/png") == 0) png = codecs[i].Clsid;
  }
  return png;
}

// Paints `state` at 144 DPI and saves it as folder\name.png. False when
// the file could not be written.
bool RenderPreviewFrame(UiState state, int pressed, const std::wstring& folder, const std::wstring& name,
                        const CLSID& encoder) {
  state.dpi = kPreviewDpi;
  DcHandle dc(CreateCompatibleDC(nullptr));
  if (!dc) return false;
  BITMAPINFO info{};
  info.bmiHeader.biSize = sizeof(BITMAPINFOHEADER);
  info.bmiHeader.biWidth = kPreviewWidth;
  info.bmiHeader.biHeight = -kPreviewHeight;  // rows top-down
  info.bmiHeader.biPlanes = 1;
  info.bmiHeader.biBitCount = 32;
  info.bmiHeader.biCompression = BI_RGB;
  void* bits = nullptr;
  BitmapObject dib(CreateDIBSection(dc.get(), &info, DIB_RGB_COLORS, &bits, nullptr, 0));
  if (!dib) return false;
  {
    SelectedObject selected(dc.get(), dib.get());
    const PixelRect b = ButtonRect(kPreviewDpi);
    PaintScene(dc.get(), RECT{0, 0, kPreviewWidth, kPreviewHeight}, state, RECT{b.left, b.top, b.right, b.bottom},
               pressed);
  }
  BitmapHandle picture;
  if (gdip::GdipCreateBitmapFromHBITMAP(dib.get(), nullptr, picture.put()) != Gdiplus::Ok) return false;
  const std::wstring path = JoinPath(folder, name + L".png");
  return gdip::GdipSaveImageToFile(picture.get(), path.c_str(), &encoder, nullptr) == Gdiplus::Ok;
}

struct Screen {
  const wchar_t* name;
  void (*change)(UiState&);
  int pressed;
};

const Screen kScreens[] = {
    {L"ready", [](UiState&) {}, 0},
    {L"ready_hover", [](UiState& s) { s.hoverGlow = 1.0f; }, 0},
    {L"ready_pressed", [](UiState& s) { s.hoverGlow = 1.0f; }, 1},
    {L"checking",
     [](UiState& s) {
       s.phase = Checking;
       s.busy = true;
       s.statusText = L"Checking for patches...";
     },
     0},
    {L"patch",
     [](UiState& s) {
       s.phase = Patch;
       s.statusText = L"A patch is ready: version 1.1.4. The download is 42 MB.";
     },
     0},
    {L"patching",
     [](UiState& s) {
       s.phase = Patching;
       s.busy = true;
       s.progressPercent = 42;
       s.statusText = L"Downloading version 1.1.4...";
     },
     0},
    {L"offline",
     [](UiState& s) {
       s.phase = Offline;
       s.statusIsError = true;
       s.statusText = L"Can't reach the release server. Check the connection.";
     },
     0},
};

UiState BaseState() {
  UiState base;
  base.phase = Ready;
  base.installedVersion = L"1.1.3";
  base.installSize = L"1.2 GB";
  base.latestVersion = L"1.1.3";
  base.statusText = L"Up to date. Ready to play.";
  base.animTime = 3.0;
  return base;
}

}  // namespace

int PaintPreviews(const std::wstring& folder) {
  const std::optional<CLSID> encoder = PngEncoder();
  if (!encoder) return 1;
  const UiState base = BaseState();
  bool allWritten = true;
  for (const Screen& screen : kScreens) {
    UiState state = base;
    screen.change(state);
    allWritten &= RenderPreviewFrame(state, screen.pressed, folder, screen.name, *encoder);
  }
  for (int i = 0; i < 60; ++i) {
    UiState state = base;
    state.animTime = 3.0 + i / 30.0;
    const std::wstring name = (i < 10 ? L"frame_0" : L"frame_") + std::to_wstring(i);
    allWritten &= RenderPreviewFrame(state, 0, folder, name, *encoder);
  }
  return allWritten ? 0 : 1;
}

}  // namespace launcher
