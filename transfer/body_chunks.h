// Reading a response body the way WinHTTP hands it over, shared by the
// whole-body fetch and the object download.
#pragma once

#include <windows.h>

#include <winhttp.h>

namespace launcher {

// Bytes ready to read now; 0 once the body is complete. Throws
// "The download was interrupted. Check your internet connection and try again."
DWORD BytesReady(HINTERNET request);

// Reads up to `count` bytes into `buffer` and returns how many arrived; 0
// means the body is complete. Throws the same "interrupted" message.
DWORD ReadBytes(HINTERNET request, void* buffer, DWORD count);

}  // namespace launcher
