#include "core/paths.h"

#include <gtest/gtest.h>

namespace launcher {
namespace {

TEST(JoinPath, SeparatorRules) {
  struct Case {
    const char* name;
    const wchar_t* folder;
    const wchar_t* joined;
  };
  const Case kCases[] = {
      {"plain folder", L"C:\\Stonewake", L"C:\\Stonewake\\x"},
      {"trailing backslash", L"C:\\Stonewake\\", L"C:\\Stonewake\\x"},
      {"trailing slash", L"C:/Stonewake/", L"C:/Stonewake/x"},
      {"empty folder", L"", L"x"},
      {"bare drive", L"C:", L"C:x"},
      {"drive root", L"C:\\", L"C:\\x"},
      {"not a drive", L"CD", L"CD\\x"},
  };
  for (const auto& c : kCases) {
    SCOPED_TRACE(c.name);
    EXPECT_EQ(JoinPath(c.folder, L"x"), c.joined);
  }
}

TEST(LocalPathFor, ManifestPathsBecomeFolderPaths) {
  EXPECT_EQ(LocalPathFor(L"C:\\Stonewake", ManifestFile{"game/data/a.pak", "", 0}),
            L"C:\\Stonewake\\game\\data\\a.pak");
  EXPECT_EQ(LocalPathFor(L"C:\\Stonewake\\", ManifestFile{"game/data/a.pak", "", 0}),
            L"C:\\Stonewake\\game\\data\\a.pak");
  EXPECT_EQ(LocalPathFor(L"C:\\Stonewake", ManifestFile{std::string(LauncherFileName), "", 0}),
            L"C:\\Stonewake\\Stonewake Launcher.exe");
}

TEST(LastPathComponent, NamesTheFileOnly) {
  EXPECT_EQ(LastPathComponent(L"C:\\a\\game\\Stonewake.exe"), L"Stonewake.exe");
  EXPECT_EQ(LastPathComponent(L"C:/a/b.txt"), L"b.txt");
  EXPECT_EQ(LastPathComponent(L"C:\\a\\"), L"");
  EXPECT_EQ(LastPathComponent(L"plain"), L"plain");
}

}  // namespace
}  // namespace launcher
