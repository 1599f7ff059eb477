// Reading a response body the way WinHTTP hands it over, shared by the
// whole-body fetch and the object download.
#pragma once

#include <windows.h>

#include "transfer/http_request.h"

namespace launcher {

// Bytes ready to read now; 0 once the body is complete. Throws
// "The download was interrupted. Check your internet connection and try again."
// and TransferStopped (the exchange's stop event).
DWORD BytesReady(HttpRequest& exchange);

// Reads up to `count` bytes into `buffer` and returns how many arrived; 0
// means the body is complete. Throws the same as BytesReady.
DWORD ReadBytes(HttpRequest& exchange, void* buffer, DWORD count);

}  // namespace launcher
