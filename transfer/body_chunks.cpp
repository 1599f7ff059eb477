#include "transfer/body_chunks.h"

#include "core/records.h"

namespace launcher {
namespace {

[[noreturn]] void Interrupted() {
  throw LauncherError{L"The download was interrupted. Check your internet connection and try again."};
}

}  // namespace

DWORD BytesReady(HINTERNET request) {
  DWORD ready = 0;
  if (!WinHttpQueryDataAvailable(request, &ready)) Interrupted();
  return ready;
}

DWORD ReadBytes(HINTERNET request, void* buffer, DWORD count) {
  DWORD read = 0;
  if (!WinHttpReadData(request, buffer, count, &read)) Interrupted();
  return read;
}

}  // namespace launcher
