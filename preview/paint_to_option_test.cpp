#include "preview/paint_to_option.h"

#include <gtest/gtest.h>

namespace launcher {
namespace {

TEST(PaintToOption, FolderRunsToTheNextSpace) {
  struct Case {
    const wchar_t* commandLine;
    const wchar_t* folder;  // null: no preview mode
  };
  const Case kCases[] = {
      {L"\"C:\\Stonewake\\Stonewake Launcher.exe\"", nullptr},
      {L"launcher.exe --paint-to=C:\\previews", L"C:\\previews"},
      {L"launcher.exe --paint-to=C:\\previews\\ --no-windows-fonts", L"C:\\previews\\"},
      {L"launcher.exe --paint-to= --uninstall", L""},
      {L"launcher.exe --paint-to=", L""},
      {L"launcher.exe --uninstall --paint-to=out", L"out"},
      // Quotes are not interpreted, so a quoted folder keeps its quote.
      {L"launcher.exe --paint-to=\"C:\\my previews\"", L"\"C:\\my"},
      // Case-sensitive, anywhere (even inside the program's own path).
      {L"launcher.exe --PAINT-TO=out", nullptr},
      {L"C:\\x--paint-to=y\\launcher.exe", L"y\\launcher.exe"},
  };
  for (const auto& c : kCases) {
    const auto folder = PaintToFolder(c.commandLine);
    if (!c.folder) {
      EXPECT_FALSE(folder.has_value()) << c.commandLine;
    } else {
      ASSERT_TRUE(folder.has_value()) << c.commandLine;
      EXPECT_EQ(*folder, c.folder) << c.commandLine;
    }
  }
}

}  // namespace
}  // namespace launcher
