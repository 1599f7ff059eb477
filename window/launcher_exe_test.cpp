// Checks on the built executable as Windows sees it.
#include <windows.h>

#include <gtest/gtest.h>

#include <vector>

#include "core/paths.h"
#include "test_support/temp_folder.h"

namespace launcher {
namespace {

TEST(LauncherExecutable, VersionResourceReads2510) {
  const std::wstring exe = JoinPath(testing::ProgramFolder(), L"Stonewake Launcher.exe");
  DWORD ignored = 0;
  const DWORD size = GetFileVersionInfoSizeW(exe.c_str(), &ignored);
  ASSERT_NE(size, 0u) << "no version resource in the launcher";
  std::vector<BYTE> info(size);
  ASSERT_TRUE(GetFileVersionInfoW(exe.c_str(), 0, size, info.data()));

  VS_FIXEDFILEINFO* fixed = nullptr;
  UINT fixedSize = 0;
  ASSERT_TRUE(VerQueryValueW(info.data(), L"\\", reinterpret_cast<void**>(&fixed), &fixedSize));
  ASSERT_GE(fixedSize, sizeof(VS_FIXEDFILEINFO));
  EXPECT_EQ(fixed->dwFileVersionMS, MAKELONG(5, 2));
  EXPECT_EQ(fixed->dwFileVersionLS, MAKELONG(0, 1));
  EXPECT_EQ(fixed->dwProductVersionMS, MAKELONG(5, 2));
  EXPECT_EQ(fixed->dwProductVersionLS, MAKELONG(0, 1));

  wchar_t* text = nullptr;
  UINT textSize = 0;
  ASSERT_TRUE(VerQueryValueW(info.data(), L"\\StringFileInfo\\040904b0\\ProductVersion",
                             reinterpret_cast<void**>(&text), &textSize));
  EXPECT_STREQ(text, L"2.5.1");
}

TEST(LauncherExecutable, ManifestAsksForNoElevation) {
  const std::wstring exe = JoinPath(testing::ProgramFolder(), L"Stonewake Launcher.exe");
  HMODULE module = LoadLibraryExW(exe.c_str(), nullptr, LOAD_LIBRARY_AS_DATAFILE | LOAD_LIBRARY_AS_IMAGE_RESOURCE);
  ASSERT_NE(module, nullptr);
  HRSRC found = FindResourceW(module, MAKEINTRESOURCEW(1), MAKEINTRESOURCEW(24));  // RT_MANIFEST
  ASSERT_NE(found, nullptr);
  const char* bytes = static_cast<const char*>(LockResource(LoadResource(module, found)));
  const std::string manifest(bytes, SizeofResource(module, found));
  EXPECT_NE(manifest.find("level=\"asInvoker\""), std::string::npos);
  FreeLibrary(module);
}

}  // namespace
}  // namespace launcher
