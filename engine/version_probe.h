// The light form of the release check: which version the install is to be
// at, without reading any game file.
#pragma once

#include <string>
#include <string_view>

#include "core/records.h"
#include "engine/verified_manifest.h"
#include "release/release_config.h"

namespace launcher {

// Whether a release is taken over what is installed: when nothing is
// installed, when it is a rollback, or when its version does not order
// before the installed one. The release check and the probe both decide
// with this one function, so they can never disagree about the target.
bool TakesRelease(const Manifest& manifest, std::wstring_view installedVersion);

// The text a full release check run now would put into its `version`: the
// release's version when it is taken, the installed version otherwise.
// Obtains the verified manifest through `memory` (an unchanged signature
// costs one small request and nothing else) and reads installed.txt afresh;
// reads no game file. Throws the release check's messages, except that a
// signature that does not verify gives "The release could not be verified.".
// With a `stop` event (a HANDLE), its requests end with TransferStopped once
// the event is set.
std::wstring ProbeReleaseVersion(std::wstring_view installFolder, VerifiedManifestMemory& memory,
                                 std::wstring_view baseUrl = ReleaseServerBase, void* stop = nullptr);
// The same with nothing remembered.
std::wstring ProbeReleaseVersion(std::wstring_view installFolder, std::wstring_view baseUrl = ReleaseServerBase);

}  // namespace launcher
