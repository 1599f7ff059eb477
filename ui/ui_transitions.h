// The window's state machine: every change of what the window shows, as
// operations on one record. Portable (no <windows.h>): the window procedure
// and the closures posted by workers call these on the window thread, and
// what they need from the platform (repainting, starting a worker, starting
// the game, ending the window) comes in through `ShellEffects`, so the whole
// table of transitions runs natively in tests without a window or threads.
#pragma once

#include <cstdint>
#include <memory>
#include <string>

#include "core/records.h"
#include "ui/ui_state.h"

namespace launcher {

// Shown when a worker ends with something other than LauncherError, so a
// surprise never leaves the window busy for good.
inline constexpr wchar_t UnexpectedFailureText[] = L"Something went wrong. Try again.";
// Shown when the system refuses to start a worker thread.
inline constexpr wchar_t ThreadStartFailureText[] =
    L"The launcher could not start its work. Close some programs and try again.";

// What the transitions ask of the window side. Each Start* starts its
// thread with copies of what it needs and returns false when the thread
// could not be started.
class ShellEffects {
 public:
  virtual ~ShellEffects() = default;
  // Invalidates the whole client area without erasing.
  virtual void Repaint() = 0;
  virtual bool StartCheckWorker() = 0;
  virtual bool StartProbe() = 0;
  virtual bool StartPatchWorker(std::shared_ptr<const ReleaseStatus> release) = 0;
  virtual bool StartPlayCheck(const std::wstring& capturedVersion) = 0;
  // Starts the game with "--launcher " + version; throws LauncherError.
  virtual void StartGame(const std::wstring& version) = 0;
  // Destroys the main window, which ends the program.
  virtual void EndWindow() = 0;
};

// The sentence for a release that needs files, by what is installed.
std::wstring ComposeStatusText(const ReleaseStatus& release, const std::wstring& installedVersion);

// The window thread's state and its transitions. Every operation runs on
// the window thread; workers only ever reach it through posted closures.
class LauncherUi {
 public:
  explicit LauncherUi(ShellEffects& effects) : effects_(effects) {}
  LauncherUi(const LauncherUi&) = delete;
  LauncherUi& operator=(const LauncherUi&) = delete;

  UiState state;
  // The release of the last successful check; empty at start and after a
  // finished patch.
  std::shared_ptr<const ReleaseStatus> currentRelease;
  bool probeInFlight = false;

  // Enters Checking and starts the check worker, unless something is in
  // flight or a patch runs.
  void StartCheck();
  void ApplyCheckResult(std::shared_ptr<const ReleaseStatus> release, std::wstring installedVersion,
                        std::wstring installSize);
  void CheckFailed(std::wstring message);

  // Timer and activation: starts a probe unless one runs, something is in
  // flight, or a check or patch runs.
  void AskForPatch();
  void ProbeSucceeded(const std::wstring& version);
  void ProbeFailed(std::wstring message);

  // The button in Patch.
  void StartPatch();
  void PatchProgressed(std::wstring text, std::int32_t percent);
  void PatchFinished(std::wstring version, std::wstring installSize);
  void PatchFailed(std::wstring message);
  void LauncherReplaced();

  // The button in Ready.
  void Play();
  void PlayCheckSucceeded(const std::wstring& probedVersion, const std::wstring& capturedVersion);
  void PlayCheckFailed(std::wstring message);

  // A click on the action button, by phase: Play in Ready, the patch start
  // in Patch, nothing otherwise or while inactive.
  void Click();

 private:
  void ShowError(std::wstring message);

  ShellEffects& effects_;
};

}  // namespace launcher
