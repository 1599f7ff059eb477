// The resources linked from launcher.rc, read back from this test program's
// own module exactly as the painter and the window class find them.
#include <windows.h>

// WIN32_LEAN_AND_MEAN leaves out the COM declarations gdiplus.h builds on.
#include <objidl.h>

#include <gdiplus.h>
#include <shlwapi.h>

#include <gtest/gtest.h>

#include <cstdint>
#include <memory>
#include <set>
#include <string>
#include <string_view>
#include <vector>

#include "core/hex.h"
#include "core/release_trust.h"
#include "core/text.h"
#include "core/unique_handle.h"
#include "release/release_config.h"
#include "resources/resource_ids.h"
#include "test_support/gdiplus_environment.h"

namespace {

using IconHandle = launcher::UniqueHandle<HICON, &DestroyIcon>;

[[maybe_unused]] auto* const kGdiplus = ::testing::AddGlobalTestEnvironment(new launcher::testing::GdiplusEnvironment);

// The bytes of a resource of this module; empty when it is missing.
std::string_view ResourceBytes(WORD id, LPCWSTR type) {
  HMODULE module = GetModuleHandleW(nullptr);
  HRSRC found = FindResourceW(module, MAKEINTRESOURCEW(id), type);
  if (!found) return {};
  HGLOBAL loaded = LoadResource(module, found);
  const void* data = loaded ? LockResource(loaded) : nullptr;
  if (!data) return {};
  return {static_cast<const char*>(data), SizeofResource(module, found)};
}

std::unique_ptr<Gdiplus::Bitmap> Decode(std::string_view bytes) {
  const launcher::ComHolder<IStream> stream(
      SHCreateMemStream(reinterpret_cast<const BYTE*>(bytes.data()), static_cast<UINT>(bytes.size())));
  if (!stream) return nullptr;
  auto bitmap = std::make_unique<Gdiplus::Bitmap>(stream.get());
  if (bitmap->GetLastStatus() != Gdiplus::Ok) return nullptr;
  return bitmap;
}

// Pixels as straight (not premultiplied) 0xAARRGGBB, row by row.
std::vector<uint32_t> Pixels(Gdiplus::Bitmap& bitmap) {
  const UINT width = bitmap.GetWidth();
  const UINT height = bitmap.GetHeight();
  std::vector<uint32_t> pixels(static_cast<size_t>(width) * height);
  Gdiplus::BitmapData data{};
  data.Width = width;
  data.Height = height;
  data.Stride = static_cast<INT>(width * 4);
  data.PixelFormat = PixelFormat32bppARGB;
  data.Scan0 = pixels.data();
  Gdiplus::Rect all(0, 0, static_cast<INT>(width), static_cast<INT>(height));
  EXPECT_EQ(bitmap.LockBits(&all, Gdiplus::ImageLockModeRead | Gdiplus::ImageLockModeUserInputBuf, PixelFormat32bppARGB,
                            &data),
            Gdiplus::Ok);
  bitmap.UnlockBits(&data);
  return pixels;
}

TEST(EmbeddedPictures, DecodeToTheirSizes) {
  struct Case {
    const char* name;
    WORD id;
    UINT width;
    UINT height;
    bool alpha;
  };
  const Case kCases[] = {
      {"background", STONEWAKE_BACKDROP_RESOURCE, 1120, 680, false},
      {"molten strip", STONEWAKE_STRIP_RESOURCE, 172, 21, true},
      {"wisp", STONEWAKE_WISP_RESOURCE, 128, 128, true},
  };
  for (const auto& c : kCases) {
    SCOPED_TRACE(c.name);
    std::string_view bytes = ResourceBytes(c.id, RT_RCDATA);
    ASSERT_FALSE(bytes.empty());
    auto bitmap = Decode(bytes);
    ASSERT_TRUE(bitmap);
    EXPECT_EQ(bitmap->GetWidth(), c.width);
    EXPECT_EQ(bitmap->GetHeight(), c.height);
    // The sprites are blended through their alpha; the background is drawn
    // as the opaque base of every frame.
    EXPECT_EQ(Gdiplus::IsAlphaPixelFormat(bitmap->GetPixelFormat()) != FALSE, c.alpha);
  }
}

// The wisp is tinted by a colour matrix, which only gives the intended colour
// when the sprite itself is white; and it is scaled freely, so any alpha left
// at its border would show as a hard edge.
TEST(EmbeddedPictures, WispIsWhiteWithItsShapeInAlphaAlone) {
  auto wisp = Decode(ResourceBytes(STONEWAKE_WISP_RESOURCE, RT_RCDATA));
  ASSERT_TRUE(wisp);
  const UINT width = wisp->GetWidth();
  const UINT height = wisp->GetHeight();
  const std::vector<uint32_t> pixels = Pixels(*wisp);
  int visible = 0;
  int notWhite = 0;
  int onBorder = 0;
  for (UINT y = 0; y < height; ++y) {
    for (UINT x = 0; x < width; ++x) {
      const uint32_t p = pixels[y * width + x];
      if ((p >> 24) == 0) continue;
      ++visible;
      if ((p & 0xFFFFFF) != 0xFFFFFF) ++notWhite;
      if (x == 0 || y == 0 || x == width - 1 || y == height - 1) ++onBorder;
    }
  }
  EXPECT_GT(visible, 0);
  EXPECT_EQ(notWhite, 0);
  EXPECT_EQ(onBorder, 0);
}

// The status line, the action button and the version lines are painted over
// the lower band of the picture in light colours; a bright band would swallow
// them.
TEST(EmbeddedPictures, BackgroundStaysDarkUnderTheText) {
  auto background = Decode(ResourceBytes(STONEWAKE_BACKDROP_RESOURCE, RT_RCDATA));
  ASSERT_TRUE(background);
  const UINT width = background->GetWidth();
  const UINT height = background->GetHeight();
  const std::vector<uint32_t> pixels = Pixels(*background);
  int brightest = 0;
  for (UINT y = 464; y < height; ++y) {
    for (UINT x = 0; x < width; ++x) {
      const uint32_t p = pixels[y * width + x];
      const int luma = (299 * ((p >> 16) & 0xFF) + 587 * ((p >> 8) & 0xFF) + 114 * (p & 0xFF)) / 1000;
      if (luma > brightest) brightest = luma;
    }
  }
  EXPECT_LT(brightest, 48);
}

// Family names of a private collection, found through its family list:
// Wine 8 fails the lookup by name on a private collection although the font
// loaded.
std::set<std::wstring> FamilyNames(Gdiplus::PrivateFontCollection& collection) {
  const INT count = collection.GetFamilyCount();
  std::vector<Gdiplus::FontFamily> families(count > 0 ? count : 0);
  INT found = 0;
  if (count > 0) collection.GetFamilies(count, families.data(), &found);
  std::set<std::wstring> names;
  for (INT i = 0; i < found; ++i) {
    WCHAR name[LF_FACESIZE] = {};
    if (families[i].GetFamilyName(name) == Gdiplus::Ok) names.insert(name);
  }
  return names;
}

uint16_t BigEndian16(std::string_view bytes, size_t at) {
  const auto* b = reinterpret_cast<const unsigned char*>(bytes.data()) + at;
  return static_cast<uint16_t>((b[0] << 8) | b[1]);
}

uint32_t BigEndian32(std::string_view bytes, size_t at) {
  return (uint32_t{BigEndian16(bytes, at)} << 16) | BigEndian16(bytes, at + 2);
}

// The weight class a TrueType file declares in its OS/2 table (400 regular,
// 700 bold), or 0 when it has none. GDI+ would silently embolden a regular
// face asked for bold, so only the file tells which face it is.
int WeightClass(std::string_view font) {
  if (font.size() < 12) return 0;
  const size_t tables = BigEndian16(font, 4);
  for (size_t i = 0; i < tables && 12 + 16 * (i + 1) <= font.size(); ++i) {
    const size_t record = 12 + 16 * i;
    if (font.substr(record, 4) != "OS/2") continue;
    const size_t offset = BigEndian32(font, record + 8);
    return offset + 6 <= font.size() ? BigEndian16(font, offset + 4) : 0;
  }
  return 0;
}

TEST(EmbeddedFonts, EachLoadsAsGelasioInItsOwnWeight) {
  struct Case {
    const char* name;
    WORD id;
    int weight;
  };
  const Case kCases[] = {{"regular", STONEWAKE_GELASIO_REGULAR_RESOURCE, 400},
                         {"bold", STONEWAKE_GELASIO_BOLD_RESOURCE, 700}};
  for (const auto& c : kCases) {
    SCOPED_TRACE(c.name);
    std::string_view bytes = ResourceBytes(c.id, RT_RCDATA);
    ASSERT_FALSE(bytes.empty());
    EXPECT_EQ(WeightClass(bytes), c.weight);
    Gdiplus::PrivateFontCollection collection;
    ASSERT_EQ(collection.AddMemoryFont(bytes.data(), static_cast<INT>(bytes.size())), Gdiplus::Ok);
    EXPECT_EQ(FamilyNames(collection), std::set<std::wstring>{L"Gelasio"});
  }
}

// Loaded together, as the painter loads them, the two faces make one family.
TEST(EmbeddedFonts, TogetherMakeOneFamily) {
  Gdiplus::PrivateFontCollection collection;
  for (WORD id : {WORD{STONEWAKE_GELASIO_REGULAR_RESOURCE}, WORD{STONEWAKE_GELASIO_BOLD_RESOURCE}}) {
    std::string_view bytes = ResourceBytes(id, RT_RCDATA);
    ASSERT_EQ(collection.AddMemoryFont(bytes.data(), static_cast<INT>(bytes.size())), Gdiplus::Ok);
  }
  EXPECT_EQ(collection.GetFamilyCount(), 1);
  EXPECT_EQ(FamilyNames(collection), std::set<std::wstring>{L"Gelasio"});
}

TEST(EmbeddedIcon, LoadsForTheWindowClass) {
  IconHandle icon(LoadIconW(GetModuleHandleW(nullptr), MAKEINTRESOURCEW(STONEWAKE_ICON_RESOURCE)));
  EXPECT_TRUE(icon);
}

// Every size is present and stored as an 8-bit-per-channel RGBA PNG (Wine
// rejects 16-bit ones), and each loads as an icon of its own size.
TEST(EmbeddedIcon, HasEverySizeAsAnEightBitPng) {
  // The group directory: a 6-byte header, then one 14-byte entry per image
  // (width, height, colours, reserved, planes, bit count, bytes, image id).
  std::string_view group = ResourceBytes(1, RT_GROUP_ICON);
  ASSERT_GE(group.size(), 6u);
  const auto* g = reinterpret_cast<const unsigned char*>(group.data());
  const size_t count = g[4] | (g[5] << 8);
  ASSERT_EQ(group.size(), 6 + 14 * count);

  std::set<int> sizes;
  for (size_t i = 0; i < count; ++i) {
    const unsigned char* entry = g + 6 + 14 * i;
    const int size = entry[0] == 0 ? 256 : entry[0];
    const WORD id = static_cast<WORD>(entry[12] | (entry[13] << 8));
    sizes.insert(size);
    SCOPED_TRACE(size);
    EXPECT_EQ(entry[0], entry[1]);
    EXPECT_EQ(entry[6] | (entry[7] << 8), 32);

    std::string_view image = ResourceBytes(id, RT_ICON);
    ASSERT_GE(image.size(), 33u);
    ASSERT_EQ(image.substr(0, 8), std::string_view("\x89PNG\r\n\x1a\n", 8));
    ASSERT_EQ(image.substr(12, 4), "IHDR");
    EXPECT_EQ(BigEndian32(image, 16), static_cast<uint32_t>(size));
    EXPECT_EQ(BigEndian32(image, 20), static_cast<uint32_t>(size));
    EXPECT_EQ(image[24], 8) << "bits per channel";
    EXPECT_EQ(image[25], 6) << "colour type RGBA";

    IconHandle icon(CreateIconFromResourceEx(reinterpret_cast<BYTE*>(const_cast<char*>(image.data())),
                                             static_cast<DWORD>(image.size()), TRUE, 0x00030000, size, size,
                                             LR_DEFAULTCOLOR));
    EXPECT_TRUE(icon);
  }
  EXPECT_EQ(sizes, (std::set<int>{16, 24, 32, 48, 64, 128, 256}));
}

// The publisher reads this resource to see what a launcher it ships
// trusts; it must name what the code of the same build verifies with and
// asks.
TEST(EmbeddedReleaseTrust, NamesTheKeyAndServerTheBuildUses) {
  static_assert(STONEWAKE_RELEASE_TRUST_RESOURCE == launcher::kReleaseTrustResource);
  const std::string_view text = ResourceBytes(STONEWAKE_RELEASE_TRUST_RESOURCE, RT_RCDATA);
  const std::optional<launcher::ReleaseTrust> trust = launcher::ParseReleaseTrust(text);
  ASSERT_TRUE(trust) << text;
  EXPECT_EQ(trust->publicKeyHex,
            launcher::HexLower(launcher::ReleasePublicKeyX) + launcher::HexLower(launcher::ReleasePublicKeyY));
  EXPECT_EQ(launcher::WidenAscii(trust->serverBase), launcher::ReleaseServerBase);
}

}  // namespace
