// A stand-in for a started program (the game "Stonewake.exe", a launcher):
// records how it was started, so a test can see the command line and the
// current folder the new process really got.
//
// Writes two lines of UTF-16 text, each ending in LF: the command line as
// GetCommandLineW reports it, then the current folder. The record goes to
// the file named by the environment variable STONEWAKE_RECORD_START, or
// beside the program as "<program>.started" when that is not set. It is
// written under a ".partial" name and renamed, so a reader never sees half
// of it. With STONEWAKE_RECORD_STAY_MS set, the program then stays alive
// that many milliseconds (a game that keeps running).
#include <windows.h>

#include <cwchar>
#include <string>

namespace {

std::wstring EnvironmentValue(const wchar_t* name) {
  wchar_t value[32768] = {};
  const DWORD length = GetEnvironmentVariableW(name, value, 32768);
  if (length == 0 || length >= 32768) return {};
  return value;
}

}  // namespace

int wmain() {
  std::wstring target = EnvironmentValue(L"STONEWAKE_RECORD_START");
  if (target.empty()) {
    wchar_t module[MAX_PATH] = {};
    GetModuleFileNameW(nullptr, module, MAX_PATH);
    target = std::wstring(module) + L".started";
  }
  wchar_t folder[MAX_PATH + 1] = {};
  GetCurrentDirectoryW(MAX_PATH + 1, folder);
  const std::wstring record = std::wstring(GetCommandLineW()) + L"\n" + folder + L"\n";

  const std::wstring partial = target + L".partial";
  HANDLE file = CreateFileW(partial.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
  if (file == INVALID_HANDLE_VALUE) return 2;
  DWORD written = 0;
  const BOOL wrote = WriteFile(file, record.data(), static_cast<DWORD>(record.size() * sizeof(wchar_t)), &written,
                               nullptr);
  CloseHandle(file);
  if (!wrote || !MoveFileExW(partial.c_str(), target.c_str(), MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH)) {
    return 2;
  }

  const std::wstring stay = EnvironmentValue(L"STONEWAKE_RECORD_STAY_MS");
  if (!stay.empty()) Sleep(static_cast<DWORD>(std::wcstoul(stay.c_str(), nullptr, 10)));
  return 0;
}
