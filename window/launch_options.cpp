#include "window/launch_options.h"

#include <windows.h>
// After windows.h, which it needs.
#include <shellapi.h>

#include <string_view>

#include "files/system_handles.h"

namespace launcher {

LaunchOptions ParseLaunchOptions(const std::vector<std::wstring>& arguments) {
  constexpr std::wstring_view PaintTo = L"--paint-to=";
  LaunchOptions options;
  for (const std::wstring& argument : arguments) {
    if (argument.starts_with(PaintTo)) {
      if (!options.paintTo) options.paintTo = argument.substr(PaintTo.size());
    } else if (argument == L"--uninstall") {
      options.uninstall = true;
    } else if (argument == L"--updated") {
      options.updated = true;
    } else if (argument == L"--no-windows-fonts") {
      options.noWindowsFonts = true;
    } else if (argument == L"--verify") {
      options.verify = true;
    }
  }
  return options;
}

LaunchOptions ReadLaunchOptions() {
  int count = 0;
  const ArgumentList argv(CommandLineToArgvW(GetCommandLineW(), &count));
  std::vector<std::wstring> arguments;
  for (int i = 1; argv && i < count; ++i) arguments.emplace_back(argv.get()[i]);
  return ParseLaunchOptions(arguments);
}

}  // namespace launcher
