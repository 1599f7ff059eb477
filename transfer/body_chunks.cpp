#include "transfer/body_chunks.h"

#include <cstring>

#include "core/records.h"

namespace launcher {
namespace {

[[noreturn]] void Interrupted() {
  throw LauncherError{L"The download was interrupted. Check your internet connection and try again."};
}

}  // namespace

DWORD BytesReady(HttpRequest& exchange) {
  // Asynchronous calls report their counts through the completion only.
  if (!WinHttpQueryDataAvailable(exchange.request.get(), nullptr)) Interrupted();
  bool failed = false;
  const DWORD ready = AwaitCompletion(exchange, failed);
  if (failed) Interrupted();
  return ready;
}

DWORD ReadBytes(HttpRequest& exchange, void* buffer, DWORD count) {
  std::uint8_t* landing = CompletionBuffer(exchange, count);
  if (!WinHttpReadData(exchange.request.get(), landing, count, nullptr)) Interrupted();
  bool failed = false;
  const DWORD read = AwaitCompletion(exchange, failed);
  if (failed) Interrupted();
  std::memcpy(buffer, landing, read);
  return read;
}

}  // namespace launcher
