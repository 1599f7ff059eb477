#include "window/workers.h"

#include <cstdint>
#include <thread>
#include <utility>

#include "core/install_layout.h"
#include "core/paths.h"
#include "desktop/shortcuts.h"
#include "engine/install_size.h"
#include "engine/installed_version.h"
#include "engine/patch.h"
#include "engine/release_check.h"
#include "engine/version_probe.h"
#include "files/thread_name.h"
#include "files/trace.h"
#include "transfer/http_request.h"
#include "ui/progress_filter.h"

namespace launcher {

namespace {

using FailureTransition = void (LauncherUi::*)(std::wstring);

void PostFailure(const WindowPost& post, FailureTransition failed, const std::wstring& message) noexcept {
  try {
    post([failed, message](LauncherUi& ui) { (ui.*failed)(message); });
  } catch (...) {
    // Not even the failure could be queued (out of memory): nothing is left
    // to tell the window with.
    TraceCaught(L"a worker's failure could not be posted");
  }
}

// Runs a worker's body so that nothing ends the process from a worker
// thread: a LauncherError becomes the worker's failure closure with its
// sentence, anything else the same closure with a plain one. Either way the
// trace gets what was caught, with the Windows error code.
template <typename Body>
void RunWorker(const WindowPost& post, FailureTransition failed, const wchar_t* worker, Body body) noexcept {
  try {
    body();
  } catch (const TransferStopped&) {
    // The window closed and set the stop: nothing is left to tell.
  } catch (const LauncherError& error) {
    TraceCaught(worker);
    PostFailure(post, failed, error.message);
  } catch (...) {
    TraceCaught(worker);
    PostFailure(post, failed, UnexpectedFailureText);
  }
}

template <typename Body>
bool StartThread(const wchar_t* name, Body body) {
  try {
    std::thread([name, body = std::move(body)] {
      NameThisThread(name);
      body();
    }).detach();
    return true;
  } catch (...) {
    TraceCaught(L"a worker thread could not be started");
    return false;
  }
}

void CheckWorker(const WindowPost& post, const std::wstring& folder, VerifiedManifestMemory& memory, HANDLE stop) {
  RunWorker(post, &LauncherUi::CheckFailed, L"the release check", [&] {
    auto release = std::make_shared<const ReleaseStatus>(CheckRelease(folder, memory, ReleaseServerBase, stop));
    // An install that matches its release goes to Ready without a patch,
    // so nothing else would take the downloads an earlier patch left.
    DiscardAbandonedDownloads(folder, *release);
    std::wstring installed = ReadInstalledVersion(folder);
    std::wstring size = InstallSizeText(folder);
    post([release = std::move(release), installed = std::move(installed), size = std::move(size)](LauncherUi& ui) {
      ui.ApplyCheckResult(release, installed, size);
    });
  });
}

void ProbeWorker(const WindowPost& post, const std::wstring& folder, VerifiedManifestMemory& memory, HANDLE stop) {
  RunWorker(post, &LauncherUi::ProbeFailed, L"the version probe", [&] {
    post([version = ProbeReleaseVersion(folder, memory, ReleaseServerBase, stop)](LauncherUi& ui) {
      ui.ProbeSucceeded(version);
    });
  });
}

void PlayCheckWorker(const WindowPost& post, const std::wstring& folder, VerifiedManifestMemory& memory, HANDLE stop,
                     const std::wstring& captured) {
  RunWorker(post, &LauncherUi::PlayCheckFailed, L"the check before Play", [&] {
    post([version = ProbeReleaseVersion(folder, memory, ReleaseServerBase, stop), captured](LauncherUi& ui) {
      ui.PlayCheckSucceeded(version, captured);
    });
  });
}

void PatchWorker(const WindowPost& post, const std::wstring& folder,
                 const std::shared_ptr<const ReleaseStatus>& release) {
  RunWorker(post, &LauncherUi::PatchFailed, L"the patch", [&] {
    ProgressFilter filter;
    auto progress = [&](const std::wstring& text, std::int32_t percent) {
      if (filter.LetThrough(text, percent)) {
        post([text, percent](LauncherUi& ui) { ui.PatchProgressed(text, percent); });
      }
    };
    if (ApplyRelease(folder, *release, progress)) {
      post([](LauncherUi& ui) { ui.LauncherReplaced(); });
      return;
    }
    std::wstring version = release->version;
    // The patch may have replaced the game's executable, whose picture
    // shortcuts and pinned icons show.
    AnnounceChanged({JoinPath(JoinPath(folder, GameFolderName), GameExecutableName)});
    std::wstring size = InstallSizeText(folder);
    post([version = std::move(version), size = std::move(size)](LauncherUi& ui) { ui.PatchFinished(version, size); });
  });
}

}  // namespace

bool StartCheckWorker(WindowPost post, std::wstring installFolder, std::shared_ptr<VerifiedManifestMemory> memory,
                      std::shared_ptr<const KernelHandle> stop) {
  return StartThread(L"Stonewake release check",
                     [post = std::move(post), folder = std::move(installFolder), memory = std::move(memory),
                      stop = std::move(stop)] { CheckWorker(post, folder, *memory, stop->get()); });
}

bool StartProbeWorker(WindowPost post, std::wstring installFolder, std::shared_ptr<VerifiedManifestMemory> memory,
                      std::shared_ptr<const KernelHandle> stop) {
  return StartThread(L"Stonewake version probe",
                     [post = std::move(post), folder = std::move(installFolder), memory = std::move(memory),
                      stop = std::move(stop)] { ProbeWorker(post, folder, *memory, stop->get()); });
}

bool StartPlayCheckWorker(WindowPost post, std::wstring installFolder, std::shared_ptr<VerifiedManifestMemory> memory,
                          std::shared_ptr<const KernelHandle> stop, std::wstring capturedVersion) {
  return StartThread(
      L"Stonewake check before Play",
      [post = std::move(post), folder = std::move(installFolder), memory = std::move(memory), stop = std::move(stop),
       captured = std::move(capturedVersion)] { PlayCheckWorker(post, folder, *memory, stop->get(), captured); });
}

bool StartPatchWorker(WindowPost post, std::wstring installFolder, std::shared_ptr<const ReleaseStatus> release) {
  return StartThread(L"Stonewake patch", [post = std::move(post), folder = std::move(installFolder),
                                          release = std::move(release)] { PatchWorker(post, folder, release); });
}

}  // namespace launcher
