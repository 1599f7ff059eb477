#include "ui/ui_transitions.h"

#include <utility>

namespace launcher {

namespace {

constexpr wchar_t CheckingText[] = L"Checking for patches...";
constexpr wchar_t UpToDateText[] = L"Up to date. Ready to play.";
constexpr wchar_t StartingUpdateText[] = L"Starting the update...";
constexpr wchar_t StartingGameText[] = L"Starting...";

}  // namespace

std::wstring ComposeStatusText(const ReleaseStatus& release, const std::wstring& installedVersion) {
  std::uint64_t megabytes = release.fetchBytes >> 20;
  if (megabytes == 0) megabytes = 1;
  const std::wstring size = std::to_wstring(megabytes) + L" MB";
  if (installedVersion.empty()) return L"Ready to install. The download is " + size + L".";
  if (installedVersion != release.version) {
    return L"A patch is out: version " + release.version + L", " + size + L". Patch to play.";
  }
  return L"Some game files need repairing: " + size + L".";
}

void LauncherUi::StartCheck() {
  if (state.busy || state.phase == Patching) return;
  state.busy = true;
  state.statusIsError = false;
  state.phase = Checking;
  state.statusText = CheckingText;
  effects_.Repaint();
  if (!effects_.StartCheckWorker()) CheckFailed(ThreadStartFailureText);
}

void LauncherUi::ApplyCheckResult(std::shared_ptr<const ReleaseStatus> release, std::wstring installedVersion,
                                  std::wstring installSize) {
  const bool nothingToFetch = release->fetch.empty();
  state.installedVersion = std::move(installedVersion);
  state.installSize = std::move(installSize);
  state.latestVersion = release->version;
  state.statusIsError = false;
  state.progressPercent = 0;
  state.phase = nothingToFetch ? Ready : Patch;
  state.statusText = nothingToFetch ? std::wstring(UpToDateText) : ComposeStatusText(*release, state.installedVersion);
  state.busy = false;
  currentRelease = std::move(release);
  effects_.Repaint();
}

void LauncherUi::CheckFailed(std::wstring message) {
  state.phase = Offline;
  ShowError(std::move(message));
  state.busy = false;
  effects_.Repaint();
}

void LauncherUi::AskForPatch() {
  if (probeInFlight || state.busy || state.phase == Checking || state.phase == Patching) return;
  probeInFlight = true;
  if (!effects_.StartProbe()) ProbeFailed(ThreadStartFailureText);
}

void LauncherUi::ProbeSucceeded(const std::wstring& version) {
  probeInFlight = false;
  if (version != state.latestVersion || state.phase == Offline) StartCheck();
}

void LauncherUi::ProbeFailed(std::wstring message) {
  probeInFlight = false;
  if (state.busy || state.phase == Patching) return;
  state.phase = Offline;
  ShowError(std::move(message));
  effects_.Repaint();
}

void LauncherUi::StartPatch() {
  if (state.busy || !currentRelease) return;
  state.busy = true;
  state.phase = Patching;
  state.statusIsError = false;
  state.progressPercent = 0;
  state.statusText = StartingUpdateText;
  effects_.Repaint();
  if (!effects_.StartPatchWorker(currentRelease)) PatchFailed(ThreadStartFailureText);
}

void LauncherUi::PatchProgressed(std::wstring text, std::int32_t percent) {
  state.statusText = std::move(text);
  state.progressPercent = percent;
  effects_.Repaint();
}

void LauncherUi::PatchFinished(std::wstring version, std::wstring installSize) {
  state.installedVersion = version;
  state.installSize = std::move(installSize);
  state.latestVersion = std::move(version);
  state.phase = Ready;
  state.statusIsError = false;
  state.progressPercent = 100;
  state.statusText = UpToDateText;
  state.busy = false;
  currentRelease.reset();
  effects_.Repaint();
}

void LauncherUi::PatchFailed(std::wstring message) {
  state.phase = Patch;
  ShowError(std::move(message));
  state.progressPercent = 0;
  state.busy = false;
  effects_.Repaint();
}

void LauncherUi::LauncherReplaced() { effects_.EndWindow(); }

void LauncherUi::Play() {
  state.busy = true;
  state.statusText = StartingGameText;
  effects_.Repaint();
  if (!effects_.StartPlayCheck(state.latestVersion)) PlayCheckFailed(ThreadStartFailureText);
}

void LauncherUi::PlayCheckSucceeded(const std::wstring& probedVersion, const std::wstring& capturedVersion) {
  state.busy = false;
  if (probedVersion != capturedVersion) {
    StartCheck();
    return;
  }
  try {
    effects_.StartGame(capturedVersion);
  } catch (const LauncherError& error) {
    ShowError(error.message);
    effects_.Repaint();
    return;
  }
  effects_.EndWindow();
}

void LauncherUi::PlayCheckFailed(std::wstring message) {
  state.busy = false;
  state.phase = Offline;
  ShowError(std::move(message));
  effects_.Repaint();
}

void LauncherUi::Click() {
  if (!ButtonIsActive(state)) return;
  if (state.phase == Ready) {
    Play();
  } else if (state.phase == Patch) {
    StartPatch();
  }
}

void LauncherUi::ShowError(std::wstring message) {
  state.statusIsError = true;
  state.statusText = std::move(message);
}

}  // namespace launcher
