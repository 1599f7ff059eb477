// Owners of the file system's handles whose "no handle" value is
// INVALID_HANDLE_VALUE rather than null.
#pragma once

#include <windows.h>

#include "core/unique_handle.h"

namespace launcher {

struct InvalidHandleValue {
  static HANDLE Get() noexcept { return INVALID_HANDLE_VALUE; }
};

using FileHandle = UniqueHandle<HANDLE, &CloseHandle, InvalidHandleValue>;

// Owner of a folder listing from FindFirstFileExW.
using FindHandle = UniqueHandle<HANDLE, &FindClose, InvalidHandleValue>;

}  // namespace launcher
