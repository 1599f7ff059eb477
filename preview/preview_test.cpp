// The preview pictures as a user checks them: run the launcher with
// "--paint-to=", then read the PNG files it wrote.
#include <windows.h>

// WIN32_LEAN_AND_MEAN leaves out the COM declarations gdiplus.h builds on.
#include <objidl.h>

#include <gdiplus.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <cstdlib>
#include <filesystem>
#include <map>
#include <memory>
#include <string>
#include <vector>

#include "core/paths.h"
#include "core/text.h"
#include "test_support/gdiplus_environment.h"
#include "test_support/programs.h"
#include "test_support/temp_folder.h"

namespace launcher {
namespace {

[[maybe_unused]] auto* const kGdiplus = ::testing::AddGlobalTestEnvironment(new testing::GdiplusEnvironment);

constexpr int kWidth = 840;
constexpr int kHeight = 510;
// The button at 144 DPI.
constexpr int kLeft = 42, kTop = 387, kRight = 798, kBottom = 462;

std::vector<std::wstring> ExpectedNames() {
  std::vector<std::wstring> names = {L"ready", L"ready_hover", L"ready_pressed", L"checking",
                                     L"patch", L"patching",    L"offline"};
  for (int i = 0; i < 60; ++i) names.push_back((i < 10 ? L"frame_0" : L"frame_") + std::to_wstring(i));
  return names;
}

// Runs `program` with `arguments` and returns its exit code.
DWORD RunProgram(const std::wstring& program, const std::wstring& arguments) {
  return testing::RunAndWait(L"\"" + program + L"\" " + arguments, {}, std::chrono::minutes(2));
}

std::wstring Launcher() { return JoinPath(testing::ProgramFolder(), L"Stonewake Launcher.exe"); }

// A decoded picture as 0xRRGGBB (the previews are opaque), row by row.
struct Picture {
  int width = 0;
  int height = 0;
  std::vector<std::uint32_t> pixels;
  std::uint32_t At(int x, int y) const { return pixels[static_cast<size_t>(y) * width + x] & 0xFFFFFF; }
};

Picture Load(const std::wstring& path) {
  Picture picture;
  Gdiplus::Bitmap bitmap(path.c_str());
  if (bitmap.GetLastStatus() != Gdiplus::Ok) {
    ADD_FAILURE() << "cannot decode a preview";
    return picture;
  }
  picture.width = static_cast<int>(bitmap.GetWidth());
  picture.height = static_cast<int>(bitmap.GetHeight());
  picture.pixels.resize(static_cast<size_t>(picture.width) * picture.height);
  Gdiplus::BitmapData data{};
  data.Width = static_cast<UINT>(picture.width);
  data.Height = static_cast<UINT>(picture.height);
  data.Stride = picture.width * 4;
  data.PixelFormat = PixelFormat32bppARGB;
  data.Scan0 = picture.pixels.data();
  Gdiplus::Rect all(0, 0, picture.width, picture.height);
  EXPECT_EQ(bitmap.LockBits(&all, Gdiplus::ImageLockModeRead | Gdiplus::ImageLockModeUserInputBuf, PixelFormat32bppARGB,
                            &data),
            Gdiplus::Ok);
  bitmap.UnlockBits(&data);
  return picture;
}

int Red(std::uint32_t c) { return static_cast<int>(c >> 16 & 0xFF); }
int Green(std::uint32_t c) { return static_cast<int>(c >> 8 & 0xFF); }
int Blue(std::uint32_t c) { return static_cast<int>(c & 0xFF); }

// The smallest rectangle holding every pixel where two pictures differ;
// empty (right < left) when they are equal.
RECT Difference(const Picture& a, const Picture& b) {
  RECT box{kWidth, kHeight, -1, -1};
  for (int y = 0; y < a.height; ++y) {
    for (int x = 0; x < a.width; ++x) {
      if (a.At(x, y) == b.At(x, y)) continue;
      box.left = std::min<LONG>(box.left, x);
      box.top = std::min<LONG>(box.top, y);
      box.right = std::max<LONG>(box.right, x);
      box.bottom = std::max<LONG>(box.bottom, y);
    }
  }
  return box;
}

// The expected colour of a vertical button gradient at pixel row y: from
// `top` at kTop - 1 to `bottom` at kBottom + 1, sampled at the row's centre.
std::uint32_t GradientAt(std::uint32_t top, std::uint32_t bottom, int y) {
  const double f = (y + 0.5 - (kTop - 1)) / ((kBottom + 1) - (kTop - 1));
  auto mix = [f](int a, int b) { return static_cast<std::uint32_t>(a + (b - a) * f + 0.5); };
  return mix(Red(top), Red(bottom)) << 16 | mix(Green(top), Green(bottom)) << 8 | mix(Blue(top), Blue(bottom));
}

void ExpectNear(std::uint32_t actual, std::uint32_t expected, int tolerance, const char* what) {
  EXPECT_LE(std::abs(Red(actual) - Red(expected)), tolerance)
      << what << std::hex << ": " << actual << " vs " << expected;
  EXPECT_LE(std::abs(Green(actual) - Green(expected)), tolerance)
      << what << std::hex << ": " << actual << " vs " << expected;
  EXPECT_LE(std::abs(Blue(actual) - Blue(expected)), tolerance)
      << what << std::hex << ": " << actual << " vs " << expected;
}

// Pixels of the status line's box in exactly this colour.
int CountInStatusLine(const Picture& p, std::uint32_t colour) {
  int count = 0;
  for (int y = 348; y < 381; ++y)
    for (int x = 42; x < 798; ++x) count += p.At(x, y) == colour;
  return count;
}

// One run of the launcher's preview mode, shared by the tests that only
// read its pictures.
class Previews : public ::testing::Test {
 protected:
  static void SetUpTestSuite() {
    folder_ = new testing::TempFolder;
    exitCode_ = RunProgram(Launcher(), L"--paint-to=" + folder_->path());
  }
  static void TearDownTestSuite() {
    delete folder_;
    folder_ = nullptr;
    pictures_.clear();
  }
  static const Picture& Get(const std::wstring& name) {
    auto it = pictures_.find(name);
    if (it == pictures_.end()) it = pictures_.emplace(name, Load(*folder_ / (name + L".png"))).first;
    return it->second;
  }

  static testing::TempFolder* folder_;
  static DWORD exitCode_;
  static std::map<std::wstring, Picture> pictures_;
};
testing::TempFolder* Previews::folder_ = nullptr;
DWORD Previews::exitCode_ = 0;
std::map<std::wstring, Picture> Previews::pictures_;

TEST_F(Previews, WritesTheSixtySevenPicturesInOrderAt840By510) {
  EXPECT_EQ(exitCode_, 0u);
  const std::vector<std::wstring> names = ExpectedNames();
  ASSERT_EQ(names.size(), 67u);

  std::vector<std::wstring> written;
  for (const auto& entry : std::filesystem::directory_iterator(folder_->path()))
    written.push_back(entry.path().filename());
  std::sort(written.begin(), written.end());
  std::vector<std::wstring> expected;
  for (const auto& name : names) expected.push_back(name + L".png");
  std::sort(expected.begin(), expected.end());
  EXPECT_EQ(written, expected);

  // Written one after the other in the listed order.
  auto previous = std::filesystem::file_time_type::min();
  for (const auto& name : names) {
    SCOPED_TRACE(NarrowLow(name));
    const auto when = std::filesystem::last_write_time(folder_->path() + L"\\" + name + L".png");
    EXPECT_GE(when, previous);
    previous = when;
    const Picture& p = Get(name);
    EXPECT_EQ(p.width, kWidth);
    EXPECT_EQ(p.height, kHeight);
  }
}

TEST_F(Previews, FirstAnimationFrameIsTheReadyScreen) {
  EXPECT_EQ(Get(L"frame_00").pixels, Get(L"ready").pixels);
  EXPECT_NE(Get(L"frame_01").pixels, Get(L"frame_00").pixels);
}

TEST_F(Previews, HoverChangesOnlyTheButtonAndPressingOnlyItsInside) {
  const RECT hover = Difference(Get(L"ready"), Get(L"ready_hover"));
  ASSERT_GE(hover.right, hover.left) << "hovering changes nothing";
  // The halo reaches at most 4 layout pixels (6 client pixels) outside.
  EXPECT_GE(hover.left, kLeft - 7);
  EXPECT_GE(hover.top, kTop - 7);
  EXPECT_LE(hover.right, kRight + 7);
  EXPECT_LE(hover.bottom, kBottom + 7);

  const RECT pressed = Difference(Get(L"ready_hover"), Get(L"ready_pressed"));
  ASSERT_GE(pressed.right, pressed.left) << "pressing changes nothing";
  EXPECT_GE(pressed.left, kLeft);
  EXPECT_GE(pressed.top, kTop);
  EXPECT_LT(pressed.right, kRight);
  EXPECT_LT(pressed.bottom, kBottom);
}

TEST_F(Previews, ButtonFillsFollowTheirGradients) {
  const int y = (kTop + kBottom) / 2;
  // Left of the caption, away from the rounded corners.
  ExpectNear(Get(L"ready").At(100, y), GradientAt(0xD6A256, 0x8A602C, y), 2, "active");
  ExpectNear(Get(L"ready_hover").At(100, y), GradientAt(0xF0BE6E, 0xA87638, y), 2, "hovered");
  ExpectNear(Get(L"ready_pressed").At(100, y), GradientAt(0xC49B5A, 0x89602D, y), 2, "pressed");
  ExpectNear(Get(L"checking").At(100, y), GradientAt(0x2C2924, 0x161412, y), 2, "inactive");
  ExpectNear(Get(L"offline").At(100, y), GradientAt(0x2C2924, 0x161412, y), 2, "offline");
}

TEST_F(Previews, PatchingFillEndsAtFortyTwoPercent) {
  const Picture& p = Get(L"patching");
  // A row near the top of the button, above the caption, where the shade
  // is faint: the fill is white-hot up to its leading edge at
  // 42 + 0.42 * 756 = 359.52.
  const int y = kTop + 6;
  int lastHot = -1;
  for (int x = kLeft + 10; x < kRight - 10; ++x)
    if (Green(p.At(x, y)) > 200) lastHot = x;
  EXPECT_GE(lastHot, 358);
  EXPECT_LE(lastHot, 360);
  EXPECT_GT(Red(p.At(350, y)), 220);
  // Beyond the head glow (radius 0.9 * 75 = 67.5) the inactive fill.
  ExpectNear(p.At(760, y), GradientAt(0x2C2924, 0x161412, y), 2, "beyond the fill");
}

TEST_F(Previews, OfflineStatusIsInTheErrorColourWithAnInactivePlay) {
  EXPECT_GT(CountInStatusLine(Get(L"offline"), 0xE8765C), 20);
  EXPECT_EQ(CountInStatusLine(Get(L"ready"), 0xE8765C), 0);
  EXPECT_GT(CountInStatusLine(Get(L"ready"), 0xE8E2D4), 20);
  // "Play" in the inactive caption colour, where Ready's is dark on amber.
  const Picture& offline = Get(L"offline");
  int inactiveCaption = 0;
  for (int y = kTop; y < kBottom; ++y)
    for (int x = 380; x < 460; ++x) inactiveCaption += offline.At(x, y) == 0x766E60;
  EXPECT_GT(inactiveCaption, 10);
}

TEST_F(Previews, TwoRunsWriteTheSameFiles) {
  testing::TempFolder second;
  ASSERT_EQ(RunProgram(Launcher(), L"--paint-to=" + second.path() + L"\\"), 0u);
  for (const auto& name : ExpectedNames()) {
    SCOPED_TRACE(NarrowLow(name));
    EXPECT_EQ(testing::ReadFileBytes(second / (name + L".png")), testing::ReadFileBytes(*folder_ / (name + L".png")));
  }
}

TEST(PreviewMode, MissingFolderWritesNothingAndFails) {
  testing::TempFolder parent;
  const std::wstring missing = parent / L"missing";
  EXPECT_EQ(RunProgram(Launcher(), L"--paint-to=" + missing), 1u);
  EXPECT_FALSE(std::filesystem::exists(missing));
  EXPECT_TRUE(std::filesystem::is_empty(parent.path()));
}

TEST(PreviewMode, WithoutWindowsFontsTheTextIsGelasio) {
  // The same painter in a program that carries the pictures but not the
  // Gelasio fonts: its text falls back to the generic sans-serif family.
  testing::TempFolder withGelasio, withoutGelasio;
  ASSERT_EQ(RunProgram(Launcher(), L"--no-windows-fonts --paint-to=" + withGelasio.path()), 0u);
  ASSERT_EQ(RunProgram(JoinPath(testing::ProgramFolder(), L"paint_previews_without_fonts.exe"),
                       L"\"" + withoutGelasio.path() + L"\""),
            0u);
  const Picture a = Load(withGelasio / L"ready.png");
  const Picture b = Load(withoutGelasio / L"ready.png");
  ASSERT_EQ(a.pixels.size(), b.pixels.size());
  const RECT changed = Difference(a, b);
  ASSERT_GE(changed.right, changed.left) << "the fonts make no difference";
  // Only the texts differ: nothing above the status line.
  EXPECT_GE(changed.top, 340);
  // Both draw their text.
  EXPECT_GT(CountInStatusLine(a, 0xE8E2D4), 20);
  EXPECT_GT(CountInStatusLine(b, 0xE8E2D4), 20);
}

}  // namespace
}  // namespace launcher
