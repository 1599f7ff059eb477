// Checks on the built executable as Windows sees it.
#include <windows.h>

#include <gtest/gtest.h>

#include <cstdio>
#include <string>
#include <vector>

#include "core/paths.h"
#include "core/text.h"
#include "test_support/temp_folder.h"

namespace launcher {
namespace {

// The version the build was configured with (STONEWAKE_LAUNCHER_VERSION),
// in the fixed file information and as text.
TEST(LauncherExecutable, VersionResourceReadsTheConfiguredVersion) {
  const std::string configured = STONEWAKE_CONFIGURED_LAUNCHER_VERSION;
  unsigned major = 0, minor = 0, patch = 0;
  ASSERT_EQ(std::sscanf(configured.c_str(), "%u.%u.%u", &major, &minor, &patch), 3) << configured;
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
  EXPECT_EQ(fixed->dwFileVersionMS, MAKELONG(minor, major));
  EXPECT_EQ(fixed->dwFileVersionLS, MAKELONG(0, patch));
  EXPECT_EQ(fixed->dwProductVersionMS, MAKELONG(minor, major));
  EXPECT_EQ(fixed->dwProductVersionLS, MAKELONG(0, patch));

  wchar_t* text = nullptr;
  UINT textSize = 0;
  ASSERT_TRUE(VerQueryValueW(info.data(), L"\\StringFileInfo\\040904b0\\ProductVersion",
                             reinterpret_cast<void**>(&text), &textSize));
  EXPECT_EQ(std::wstring(text), WidenAscii(configured));
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
