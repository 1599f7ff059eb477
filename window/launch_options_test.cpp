// The command line's options as the system splits it.
#include "window/launch_options.h"

#include <gtest/gtest.h>

namespace launcher {
namespace {

TEST(LaunchOptions, WholeArgumentsOnly) {
  const struct {
    std::vector<std::wstring> arguments;
    std::optional<std::wstring> paintTo;
    bool uninstall, updated;
  } cases[] = {
      {{}, std::nullopt, false, false},
      {{L"--updated"}, std::nullopt, false, true},
      {{L"--uninstall"}, std::nullopt, true, false},
      {{L"--paint-to=C:\\out"}, L"C:\\out", false, false},
      // A quoted folder arrives whole, spaces and all.
      {{L"--paint-to=C:\\my frames"}, L"C:\\my frames", false, false},
      {{L"--paint-to="}, L"", false, false},
      // Both modes asked for: the caller paints, since paintTo is checked first.
      {{L"--uninstall", L"--paint-to=x"}, L"x", true, false},
      // Case matters, and an option inside another argument is none.
      {{L"--Updated", L"--uninstallx", L"C:\\--updated\\a"}, std::nullopt, false, false},
      {{L"--paint-to=a", L"--paint-to=b"}, L"a", false, false},
  };
  EXPECT_FALSE(ParseLaunchOptions({L"--paint-to=x"}).noWindowsFonts);
  EXPECT_TRUE(ParseLaunchOptions({L"--no-windows-fonts", L"--paint-to=x"}).noWindowsFonts);
  EXPECT_FALSE(ParseLaunchOptions({L"--paint-to=x --no-windows-fonts"}).noWindowsFonts);
  EXPECT_FALSE(ParseLaunchOptions({}).verify);
  EXPECT_TRUE(ParseLaunchOptions({L"--updated", L"--verify"}).verify);
  EXPECT_FALSE(ParseLaunchOptions({L"--Verify", L"--verify-all", L"C:\\--verify"}).verify);
  for (const auto& c : cases) {
    const LaunchOptions options = ParseLaunchOptions(c.arguments);
    const std::wstring first = c.arguments.empty() ? L"" : c.arguments.front();
    EXPECT_EQ(options.paintTo, c.paintTo) << first.size();
    EXPECT_EQ(options.uninstall, c.uninstall) << first.size();
    EXPECT_EQ(options.updated, c.updated) << first.size();
  }
}

}  // namespace
}  // namespace launcher
