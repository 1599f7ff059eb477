// The record of which release the install folder holds: "installed.txt" at
// the top of the install folder, the version word's bytes followed by CR LF.
#pragma once

#include <string>
#include <string_view>

namespace launcher {

// The first line of installed.txt without its line end and trailing white
// space (0x09-0x0D, space), widened byte for byte. Empty when the file is
// missing, unreadable, empty or its first line is blank: nothing installed.
// Never fails.
std::wstring ReadInstalledVersion(std::wstring_view installFolder);

// Replaces installed.txt with the version narrowed byte for byte and CR LF,
// in one step: the record is written to "installed.txt.partial" and renamed
// over the old one, so it is never seen empty or cut short. Throws
// LauncherError "Could not record the installed version." when the record
// cannot be written or replaced (a missing folder, a read-only record, one
// held open by another program, a full disk); the old record then stays.
void WriteInstalledVersion(std::wstring_view installFolder, std::wstring_view version);

}  // namespace launcher
