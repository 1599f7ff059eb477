// The names by which launcher processes of one user find each other: the
// single-instance mutex that a windowed launcher holds while it runs, and
// its window class.
#pragma once

namespace launcher {

inline constexpr wchar_t SingleInstanceMutexName[] = L"StonewakeLauncherOneAtATime";
inline constexpr wchar_t LauncherWindowClass[] = L"StonewakeLauncher";

// True when a windowed launcher of this user runs: its mutex exists, even
// one this process may not open. The mutex is only looked at, never taken.
bool LauncherIsRunning();

// Restores the running launcher's window and brings it to the front;
// nothing when there is none.
void BringLauncherWindowToFront();

}  // namespace launcher
