// Owner of a handle from CreateFileW, whose "no handle" value is
// INVALID_HANDLE_VALUE rather than null.
#pragma once

#include <windows.h>

#include "release/unique_handle.h"

namespace launcher {

struct InvalidHandleValue {
  static HANDLE Get() noexcept { return INVALID_HANDLE_VALUE; }
};

using FileHandle = UniqueHandle<HANDLE, &CloseHandle, InvalidHandleValue>;

}  // namespace launcher
