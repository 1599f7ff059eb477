// Names the calling thread, so that a debugger or a crash dump says which
// of the launcher's threads is which.
#pragma once

namespace launcher {

// SetThreadDescription exists from Windows 10 version 1607 on, so it is
// looked up at run time; where it is missing, or refuses, the thread stays
// unnamed and nothing else changes.
void NameThisThread(const wchar_t* name) noexcept;

}  // namespace launcher
