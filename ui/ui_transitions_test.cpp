#include "ui/ui_transitions.h"

#include <gtest/gtest.h>

#include <functional>
#include <memory>
#include <string>
#include <vector>

namespace launcher {
namespace {

// Records what the transitions asked for, in order, as short words.
class RecordingEffects : public ShellEffects {
 public:
  std::vector<std::string> log;
  bool threadsStart = true;
  std::wstring gameError;  // StartGame throws this when not empty
  std::shared_ptr<const ReleaseStatus> patchedRelease;
  std::wstring playCheckVersion;
  std::wstring gameVersion;

  void Repaint() override { log.push_back("repaint"); }
  bool StartCheckWorker() override { return Started("check"); }
  bool StartProbe() override { return Started("probe"); }
  bool StartPatchWorker(std::shared_ptr<const ReleaseStatus> release) override {
    if (threadsStart) patchedRelease = std::move(release);
    return Started("patch");
  }
  bool StartPlayCheck(const std::wstring& capturedVersion) override {
    playCheckVersion = capturedVersion;
    return Started("play-check");
  }
  void StartGame(const std::wstring& version) override {
    log.push_back("game");
    gameVersion = version;
    if (!gameError.empty()) throw LauncherError{gameError};
  }
  void EndWindow() override { log.push_back("end"); }

 private:
  bool Started(const char* what) {
    log.push_back(threadsStart ? what : std::string(what) + "-refused");
    return threadsStart;
  }
};

std::shared_ptr<const ReleaseStatus> Release(const wchar_t* version, std::uint64_t fetchBytes, bool anythingToFetch) {
  auto release = std::make_shared<ReleaseStatus>();
  release->version = version;
  if (anythingToFetch) release->fetch.push_back({"game/Stonewake.exe", std::string(64, 'a'), fetchBytes});
  release->fetchBytes = fetchBytes;
  return release;
}

// Starting points of the phase diagram, reached through the transitions
// themselves so that the companion values are consistent.
void AtReady(LauncherUi& ui) {
  ui.StartCheck();
  ui.ApplyCheckResult(Release(L"1.2", 0, false), L"1.2", L"40 MB");
}
void AtPatch(LauncherUi& ui) {
  ui.StartCheck();
  ui.ApplyCheckResult(Release(L"1.3", 5 << 20, true), L"1.2", L"40 MB");
}
void AtOffline(LauncherUi& ui) {
  ui.StartCheck();
  ui.CheckFailed(L"Could not reach the release server.");
}
void AtChecking(LauncherUi& ui) { AtReady(ui), ui.StartCheck(); }
void AtPatching(LauncherUi& ui) { AtPatch(ui), ui.Click(); }
void AtPlayCheck(LauncherUi& ui) { AtReady(ui), ui.Click(); }

struct Row {
  const char* name;
  std::function<void(LauncherUi&)> from;
  std::function<void(LauncherUi&)> event;
  Phase phase;
  bool busy;
  const wchar_t* status;
  bool error;
  std::vector<std::string> effects;  // asked for by the event alone
};

TEST(Transitions, PhaseDiagram) {
  const std::vector<Row> rows = {
      {"start check from Ready",
       AtReady,
       [](LauncherUi& ui) { ui.StartCheck(); },
       Checking,
       true,
       L"Checking for patches...",
       false,
       {"repaint", "check"}},
      {"start check from Offline clears the error",
       AtOffline,
       [](LauncherUi& ui) { ui.StartCheck(); },
       Checking,
       true,
       L"Checking for patches...",
       false,
       {"repaint", "check"}},
      {"start check while a check runs",
       AtChecking,
       [](LauncherUi& ui) { ui.StartCheck(); },
       Checking,
       true,
       L"Checking for patches...",
       false,
       {}},
      {"start check while patching",
       AtPatching,
       [](LauncherUi& ui) { ui.StartCheck(); },
       Patching,
       true,
       L"Starting the update...",
       false,
       {}},
      {"check finds nothing to fetch",
       AtChecking,
       [](LauncherUi& ui) { ui.ApplyCheckResult(Release(L"1.2", 0, false), L"1.2", L"40 MB"); },
       Ready,
       false,
       L"Up to date. Ready to play.",
       false,
       {"repaint"}},
      {"check finds a first install",
       AtChecking,
       [](LauncherUi& ui) { ui.ApplyCheckResult(Release(L"1.2", 42 << 20, true), L"", L""); },
       Patch,
       false,
       L"Ready to install. The download is 42 MB.",
       false,
       {"repaint"}},
      {"check fails",
       AtChecking,
       [](LauncherUi& ui) { ui.CheckFailed(L"No server."); },
       Offline,
       false,
       L"No server.",
       true,
       {"repaint"}},
      {"probe finds another version in Ready",
       AtReady,
       [](LauncherUi& ui) { ui.ProbeSucceeded(L"1.3"); },
       Checking,
       true,
       L"Checking for patches...",
       false,
       {"repaint", "check"}},
      {"probe finds the same version in Ready",
       AtReady,
       [](LauncherUi& ui) { ui.ProbeSucceeded(L"1.2"); },
       Ready,
       false,
       L"Up to date. Ready to play.",
       false,
       {}},
      {"probe compares exactly, not by version order",
       AtReady,
       [](LauncherUi& ui) { ui.ProbeSucceeded(L"1.2.0"); },
       Checking,
       true,
       L"Checking for patches...",
       false,
       {"repaint", "check"}},
      {"probe finds the same version in Offline",
       AtOffline,
       [](LauncherUi& ui) {
         ui.state.latestVersion = L"1.2";
         ui.ProbeSucceeded(L"1.2");
       },
       Checking,
       true,
       L"Checking for patches...",
       false,
       {"repaint", "check"}},
      {"probe finds another version during the play check",
       AtPlayCheck,
       [](LauncherUi& ui) { ui.ProbeSucceeded(L"1.3"); },
       Ready,
       true,
       L"Starting...",
       false,
       {}},
      {"probe fails in Ready",
       AtReady,
       [](LauncherUi& ui) { ui.ProbeFailed(L"No server."); },
       Offline,
       false,
       L"No server.",
       true,
       {"repaint"}},
      {"probe fails in Patch",
       AtPatch,
       [](LauncherUi& ui) { ui.ProbeFailed(L"No server."); },
       Offline,
       false,
       L"No server.",
       true,
       {"repaint"}},
      {"probe fails while a check runs",
       AtChecking,
       [](LauncherUi& ui) { ui.ProbeFailed(L"No server."); },
       Checking,
       true,
       L"Checking for patches...",
       false,
       {}},
      {"probe fails while patching",
       AtPatching,
       [](LauncherUi& ui) { ui.ProbeFailed(L"No server."); },
       Patching,
       true,
       L"Starting the update...",
       false,
       {}},
      {"button in Patch",
       AtPatch,
       [](LauncherUi& ui) { ui.Click(); },
       Patching,
       true,
       L"Starting the update...",
       false,
       {"repaint", "patch"}},
      {"progress",
       AtPatching,
       [](LauncherUi& ui) { ui.PatchProgressed(L"Downloading: 1 of 5 MB", 20); },
       Patching,
       true,
       L"Downloading: 1 of 5 MB",
       false,
       {"repaint"}},
      {"patch finished",
       AtPatching,
       [](LauncherUi& ui) { ui.PatchFinished(L"1.3", L"45 MB"); },
       Ready,
       false,
       L"Up to date. Ready to play.",
       false,
       {"repaint"}},
      {"patch failed",
       AtPatching,
       [](LauncherUi& ui) { ui.PatchFailed(L"Disk full."); },
       Patch,
       false,
       L"Disk full.",
       true,
       {"repaint"}},
      {"launcher replaced",
       AtPatching,
       [](LauncherUi& ui) { ui.LauncherReplaced(); },
       Patching,
       true,
       L"Starting the update...",
       false,
       {"end"}},
      {"button in Ready",
       AtReady,
       [](LauncherUi& ui) { ui.Click(); },
       Ready,
       true,
       L"Starting...",
       false,
       {"repaint", "play-check"}},
      {"play check, same version",
       AtPlayCheck,
       [](LauncherUi& ui) { ui.PlayCheckSucceeded(L"1.2", L"1.2"); },
       Ready,
       false,
       L"Starting...",
       false,
       {"game", "end"}},
      {"play check, another version",
       AtPlayCheck,
       [](LauncherUi& ui) { ui.PlayCheckSucceeded(L"1.3", L"1.2"); },
       Checking,
       true,
       L"Checking for patches...",
       false,
       {"repaint", "check"}},
      {"play check fails",
       AtPlayCheck,
       [](LauncherUi& ui) { ui.PlayCheckFailed(L"No server."); },
       Offline,
       false,
       L"No server.",
       true,
       {"repaint"}},
      {"button in Offline",
       AtOffline,
       [](LauncherUi& ui) { ui.Click(); },
       Offline,
       false,
       L"Could not reach the release server.",
       true,
       {}},
      {"button while checking",
       AtChecking,
       [](LauncherUi& ui) { ui.Click(); },
       Checking,
       true,
       L"Checking for patches...",
       false,
       {}},
      {"button during the play check",
       AtPlayCheck,
       [](LauncherUi& ui) { ui.Click(); },
       Ready,
       true,
       L"Starting...",
       false,
       {}},
  };
  for (const Row& row : rows) {
    SCOPED_TRACE(row.name);
    RecordingEffects effects;
    LauncherUi ui(effects);
    row.from(ui);
    effects.log.clear();
    row.event(ui);
    EXPECT_EQ(ui.state.phase, row.phase);
    EXPECT_EQ(ui.state.busy, row.busy);
    EXPECT_EQ(ui.state.statusText, row.status);
    EXPECT_EQ(ui.state.statusIsError, row.error);
    EXPECT_EQ(effects.log, row.effects);
  }
}

TEST(Transitions, DownloadSizeInWholeMegabytesAtLeastOne) {
  struct Case {
    std::uint64_t bytes;
    const wchar_t* installed;
    const wchar_t* text;
  };
  const Case cases[] = {
      {0, L"", L"Ready to install. The download is 1 MB."},
      {1, L"", L"Ready to install. The download is 1 MB."},
      {1048575, L"", L"Ready to install. The download is 1 MB."},
      {1048576, L"", L"Ready to install. The download is 1 MB."},
      {2097151, L"1.0", L"A patch is out: version 1.1.4, 1 MB. Patch to play."},
      {2097152, L"1.0", L"A patch is out: version 1.1.4, 2 MB. Patch to play."},
      {42ull << 20, L"1.1.4", L"Some game files need repairing: 42 MB."},
      {5000ull << 20, L"1.1.5", L"A patch is out: version 1.1.4, 5000 MB. Patch to play."},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.bytes);
    EXPECT_EQ(ComposeStatusText(*Release(L"1.1.4", c.bytes, true), c.installed), c.text);
  }
}

TEST(Transitions, CheckResultFillsTheVersionLinesAndKeepsTheRelease) {
  RecordingEffects effects;
  LauncherUi ui(effects);
  ui.StartCheck();
  const auto release = Release(L"1.3", 3 << 20, true);
  ui.ApplyCheckResult(release, L"1.2", L"40 MB");
  EXPECT_EQ(ui.state.installedVersion, L"1.2");
  EXPECT_EQ(ui.state.installSize, L"40 MB");
  EXPECT_EQ(ui.state.latestVersion, L"1.3");
  EXPECT_EQ(ui.state.statusText, L"A patch is out: version 1.3, 3 MB. Patch to play.");
  EXPECT_EQ(ui.currentRelease, release);
}

TEST(Transitions, FailedPatchRetriesTheSameReleaseWithoutACheck) {
  RecordingEffects effects;
  LauncherUi ui(effects);
  AtPatch(ui);
  const auto release = ui.currentRelease;
  ui.Click();
  ui.PatchProgressed(L"Downloading: 2 of 5 MB", 40);
  ui.PatchFailed(L"The download was interrupted. Check your internet connection and try again.");
  EXPECT_EQ(ui.state.progressPercent, 0);
  EXPECT_TRUE(ButtonIsActive(ui.state));
  effects.log.clear();
  effects.patchedRelease.reset();
  ui.Click();
  EXPECT_EQ(effects.log, (std::vector<std::string>{"repaint", "patch"}));
  EXPECT_EQ(effects.patchedRelease, release);
  EXPECT_FALSE(ui.state.statusIsError);
}

TEST(Transitions, TwoQuickClicksStartOnePatch) {
  RecordingEffects effects;
  LauncherUi ui(effects);
  AtPatch(ui);
  effects.log.clear();
  ui.Click();
  ui.Click();
  ui.StartPatch();
  EXPECT_EQ(effects.log, (std::vector<std::string>{"repaint", "patch"}));
}

TEST(Transitions, FinishedPatchLetsGoOfTheRelease) {
  RecordingEffects effects;
  LauncherUi ui(effects);
  AtPatch(ui);
  const std::weak_ptr<const ReleaseStatus> release = ui.currentRelease;
  ui.Click();
  ui.PatchFinished(L"1.3", L"45 MB");
  EXPECT_EQ(ui.state.installedVersion, L"1.3");
  EXPECT_EQ(ui.state.latestVersion, L"1.3");
  EXPECT_EQ(ui.state.installSize, L"45 MB");
  EXPECT_EQ(ui.state.progressPercent, 100);
  EXPECT_FALSE(ui.currentRelease);
  EXPECT_FALSE(release.expired());  // the worker's reference
  effects.patchedRelease.reset();   // the worker ends
  EXPECT_TRUE(release.expired());
}

TEST(Transitions, ProgressKeepsTheErrorColourAndTheVersions) {
  RecordingEffects effects;
  LauncherUi ui(effects);
  AtPatching(ui);
  ui.state.statusIsError = true;
  ui.PatchProgressed(L"Downloading: 1 of 5 MB", 20);
  EXPECT_TRUE(ui.state.statusIsError);
  EXPECT_EQ(ui.state.progressPercent, 20);
  EXPECT_EQ(ui.state.installedVersion, L"1.2");
}

TEST(Transitions, GameThatCannotStartLeavesReadyWithTheErrorAndStartingKeepsItsColour) {
  RecordingEffects effects;
  effects.gameError = L"Could not start Stonewake.exe.";
  LauncherUi ui(effects);
  AtPlayCheck(ui);
  EXPECT_EQ(effects.playCheckVersion, L"1.2");
  ui.PlayCheckSucceeded(L"1.2", L"1.2");
  EXPECT_EQ(effects.gameVersion, L"1.2");
  EXPECT_EQ(ui.state.phase, Ready);
  EXPECT_EQ(ui.state.statusText, L"Could not start Stonewake.exe.");
  EXPECT_TRUE(ui.state.statusIsError);
  EXPECT_TRUE(ButtonIsActive(ui.state));

  ui.Click();
  EXPECT_EQ(ui.state.statusText, L"Starting...");
  EXPECT_TRUE(ui.state.statusIsError);
  EXPECT_TRUE(ui.state.busy);
}

TEST(Transitions, ProbeGuardAdmitsOneProbeOnlyWhenIdle) {
  struct Case {
    const char* name;
    std::function<void(LauncherUi&)> from;
    bool probes;
  };
  const Case cases[] = {
      {"Ready", AtReady, true},
      {"Patch", AtPatch, true},
      {"Offline", AtOffline, true},
      {"Checking", AtChecking, false},
      {"Patching", AtPatching, false},
      {"play check", AtPlayCheck, false},
      {"probe in flight", [](LauncherUi& ui) { AtReady(ui), ui.AskForPatch(); }, false},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    RecordingEffects effects;
    LauncherUi ui(effects);
    c.from(ui);
    effects.log.clear();
    ui.AskForPatch();
    EXPECT_EQ(effects.log, c.probes ? std::vector<std::string>{"probe"} : std::vector<std::string>{});
    if (c.probes) {
      EXPECT_TRUE(ui.probeInFlight);
      ui.ProbeSucceeded(ui.state.latestVersion);
      EXPECT_FALSE(ui.probeInFlight);
    }
  }
}

// A worker thread the system refuses to start must not leave the window
// busy (or probing) for good: its start is undone with an error shown.
TEST(Transitions, RefusedThreadStartShowsAnErrorAndFreesTheButton) {
  struct Case {
    const char* name;
    std::function<void(LauncherUi&)> from;
    std::function<void(LauncherUi&)> event;
    Phase phase;
  };
  const Case cases[] = {
      {"check", AtReady, [](LauncherUi& ui) { ui.StartCheck(); }, Offline},
      {"probe", AtReady, [](LauncherUi& ui) { ui.AskForPatch(); }, Offline},
      {"patch", AtPatch, [](LauncherUi& ui) { ui.Click(); }, Patch},
      {"play check", AtReady, [](LauncherUi& ui) { ui.Click(); }, Offline},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    RecordingEffects effects;
    LauncherUi ui(effects);
    c.from(ui);
    effects.threadsStart = false;
    c.event(ui);
    EXPECT_EQ(ui.state.phase, c.phase);
    EXPECT_FALSE(ui.state.busy);
    EXPECT_FALSE(ui.probeInFlight);
    EXPECT_TRUE(ui.state.statusIsError);
    EXPECT_EQ(ui.state.statusText, ThreadStartFailureText);
  }
}

}  // namespace
}  // namespace launcher
