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

// How long a launcher started by its replaced predecessor ("--updated")
// waits for the predecessor to end before it goes on regardless.
inline constexpr unsigned long PredecessorWaitMs = 10000;

// Takes the single-instance mutex `name` for the life of the process (it is
// never closed). True when this launcher is to run: nobody held it, or
// `updated` and the holder (the predecessor, about to end) let go of it or
// did not within `predecessorWaitMs`. False when another instance runs,
// including one whose mutex this process may not open (an elevated one).
bool TakeSingleInstance(const wchar_t* name, bool updated, unsigned long predecessorWaitMs = PredecessorWaitMs);

// Restores the running launcher's window and brings it to the front;
// nothing when there is none.
void BringLauncherWindowToFront();

}  // namespace launcher
