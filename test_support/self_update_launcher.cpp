// A launcher-like program for the self-replacement tests. Copied into an
// install folder as "Stonewake Launcher.exe", it checks the release at
// BASE_URL and applies it to its own folder, as the launcher's patch worker
// does, then writes the outcome beside itself in "apply-result.txt":
// "replaced", "complete" or "error: " followed by the sentence.
//
//   self_update_launcher BASE_URL [READY_EVENT HELD_EVENT]
//
// With the two event names it signals READY_EVENT as soon as its new
// launcher's ".partial" file exists and waits for HELD_EVENT before it goes
// on, so that a test can open that file from another process while it is
// still being written (as a virus scanner does with a fresh executable).
#include <windows.h>

#include <string>

#include "core/paths.h"
#include "core/text.h"
#include "engine/patch.h"
#include "engine/release_check.h"
#include "files/file_handle.h"

namespace {

std::wstring OwnFolder() {
  wchar_t module[MAX_PATH] = {};
  GetModuleFileNameW(nullptr, module, MAX_PATH);
  const std::wstring path(module);
  return path.substr(0, path.find_last_of(L"\\/"));
}

void WriteResult(const std::wstring& folder, const std::string& text) {
  launcher::FileHandle file(CreateFileW(launcher::JoinPath(folder, L"apply-result.txt").c_str(), GENERIC_WRITE, 0,
                                        nullptr, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr));
  DWORD written = 0;
  if (file) WriteFile(file.get(), text.data(), static_cast<DWORD>(text.size()), &written, nullptr);
}

}  // namespace

int wmain(int argc, wchar_t** argv) {
  if (argc != 2 && argc != 4) return 3;
  const std::wstring installFolder = OwnFolder();
  const std::wstring baseUrl = argv[1];
  HANDLE ready = argc == 4 ? OpenEventW(EVENT_MODIFY_STATE, FALSE, argv[2]) : nullptr;
  HANDLE held = argc == 4 ? OpenEventW(SYNCHRONIZE, FALSE, argv[3]) : nullptr;
  const std::wstring newLauncherPartial = launcher::JoinPath(installFolder, L"Stonewake Launcher.exe.partial");

  bool signalled = false;
  const launcher::PatchProgress progress = [&](const std::wstring&, std::int32_t) {
    if (ready && !signalled && GetFileAttributesW(newLauncherPartial.c_str()) != INVALID_FILE_ATTRIBUTES) {
      signalled = true;
      SetEvent(ready);
      WaitForSingleObject(held, 30000);
    }
  };
  try {
    const launcher::ReleaseStatus status = launcher::CheckRelease(installFolder, baseUrl);
    const bool replaced = launcher::ApplyRelease(installFolder, status, progress, baseUrl);
    WriteResult(installFolder, replaced ? "replaced" : "complete");
  } catch (const launcher::LauncherError& error) {
    WriteResult(installFolder, "error: " + launcher::NarrowLow(error.message));
  }
  return 0;
}
