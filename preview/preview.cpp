#include "preview/preview.h"

#include <cwchar>
#include <optional>
#include <vector>

#include "core/paths.h"
#include "render/gdiplus_handles.h"
#include "render/paint_target.h"
#include "ui/layout.h"
#include "ui/ui_state.h"

namespace launcher {
namespace {

constexpr int kPreviewDpi = 144;
constexpr int kPreviewWidth = kLayoutWidth * kPreviewDpi / 96;
constexpr int kPreviewHeight = kLayoutHeight * kPreviewDpi / 96;

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
  PaintTarget target(kPreviewWidth, kPreviewHeight, PixelStore::TopDownDib);
  if (!target) return false;
  target.Paint(state, pressed);
  target.Deselect();
  BitmapHandle picture;
  if (gdip::GdipCreateBitmapFromHBITMAP(target.bitmap(), nullptr, picture.put()) != Gdiplus::Ok) return false;
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

std::vector<PreviewScreen> PreviewScreens() {
  const UiState base = BaseState();
  std::vector<PreviewScreen> screens;
  for (const Screen& screen : kScreens) {
    UiState state = base;
    screen.change(state);
    screens.push_back({screen.name, state, screen.pressed});
  }
  for (int i = 0; i < 60; ++i) {
    UiState state = base;
    state.animTime = 3.0 + i / 30.0;
    screens.push_back({(i < 10 ? L"frame_0" : L"frame_") + std::to_wstring(i), state, 0});
  }
  return screens;
}

int PaintPreviews(const std::wstring& folder) {
  const std::optional<CLSID> encoder = PngEncoder();
  if (!encoder) return 1;
  bool allWritten = true;
  for (const PreviewScreen& screen : PreviewScreens())
    allWritten &= RenderPreviewFrame(screen.state, screen.pressed, folder, screen.name, *encoder);
  return allWritten ? 0 : 1;
}

}  // namespace launcher
