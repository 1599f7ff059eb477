// The background threads of the window: each takes copies of what it needs,
// calls the update engine and hands every result to the window thread as a
// posted closure. Nothing else of theirs reaches the window.
#pragma once

#include <memory>
#include <string>

#include "core/records.h"
#include "engine/verified_manifest.h"
#include "files/system_handles.h"
#include "window/post_to_window.h"

namespace launcher {

// Each starts its detached thread; false when the system refused a thread.
// Every worker posts exactly one closing closure, success or failure, so the
// window's `busy` or `probeInFlight` is always cleared.

// The check and both probes obtain the release through `memory`, the last
// verified release of this process. Their requests end once the window's
// `stop` event is set (the window closes); a worker stopped so posts
// nothing, since no window is left to tell.

// Full release check, then the installed version and size text.
bool StartCheckWorker(WindowPost post, std::wstring installFolder, std::shared_ptr<VerifiedManifestMemory> memory,
                      std::shared_ptr<const KernelHandle> stop);
// The cheap version probe of the timer and of activation.
bool StartProbeWorker(WindowPost post, std::wstring installFolder, std::shared_ptr<VerifiedManifestMemory> memory,
                      std::shared_ptr<const KernelHandle> stop);
// The probe before Play; the result says whether the release is still
// `capturedVersion`.
bool StartPlayCheckWorker(WindowPost post, std::wstring installFolder, std::shared_ptr<VerifiedManifestMemory> memory,
                          std::shared_ptr<const KernelHandle> stop, std::wstring capturedVersion);
// Applies `release`, posting each distinct progress report.
bool StartPatchWorker(WindowPost post, std::wstring installFolder, std::shared_ptr<const ReleaseStatus> release);

}  // namespace launcher
