// The launcher's one window: its class, its creation at a fixed size, and
// the start of its life (timers, first release check). The window
// procedure, the workers and the state the window shows live behind this.
#pragma once

#include <windows.h>

#include <string>

namespace launcher {

inline constexpr wchar_t WindowTitle[] = L"Stonewake";

// The folder every worker reads and patches; set before the window exists.
void SetInstallFolder(std::wstring folder);

// Registers the launcher's window class with the program's icon.
void RegisterLauncherWindowClass(HINSTANCE instance);

// Creates the fixed-size window for `dpi`, centred on the screen (at 0, 0
// when it is larger), with the dark title bar colours. Null when creation
// fails.
HWND CreateLauncherWindow(HINSTANCE instance, int dpi);

// Sets the probe and animation timers, shows the window and starts the
// first release check.
void StartLauncherWindow(HWND window, int showCommand);

}  // namespace launcher
