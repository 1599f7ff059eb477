// Reads one small resource of the release server whole into memory.
#pragma once

#include <windows.h>

#include <cstdint>
#include <string_view>
#include <vector>

namespace launcher {

// Returns the body exactly as received (a body shorter than its
// Content-Length is returned as it came). With a `stop` event, every wait
// ends with TransferStopped once the event is set. Throws OpenGet's messages,
//   "The download was interrupted. Check your internet connection and try again."
//   "The release server sent more than expected."  (over `ceiling` bytes)
// Holds at most `ceiling` bytes and one read's worth more.
std::vector<std::uint8_t> FetchBody(std::wstring_view url, std::size_t ceiling, HANDLE stop = nullptr);

}  // namespace launcher
