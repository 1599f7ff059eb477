// The install folder's small records ("installed.txt", "partials.txt", the
// desktop markers): each is replaced in one step and read with a ceiling, so
// a launcher killed or a disk filled half-way never leaves a cut record, and
// a record grown out of bounds is never read whole into memory.
#pragma once

#include <cstddef>
#include <optional>
#include <string>
#include <string_view>

namespace launcher {

// Moves `from` over `target` (replacing it) in one step; the call returns
// once the move is on disk. False when it cannot (a target held without
// delete sharing, a read-only target, a folder in its place); GetLastError
// then says why, and both files are as they were.
bool MoveFileReplacing(const std::wstring& from, const std::wstring& target);

// Replaces the file at `path` with `bytes`: writes them to `path` + ".partial"
// (created or truncated), flushes it to disk and renames it over `path`. On
// any failure the temporary file is deleted, the old file is untouched,
// GetLastError says why, and the result is false.
bool WriteFileReplacing(const std::wstring& path, std::string_view bytes);

// The whole content of the file at `path`; none when it is absent, cannot be
// opened or read, or holds more than `ceiling` bytes. Opened with every kind
// of sharing, so a read at the wrong moment never keeps a record from being
// replaced.
std::optional<std::string> ReadSmallFile(const std::wstring& path, std::size_t ceiling);

// Deletes the file at `path`, clearing its read-only attribute first when
// that is what stops the deletion (DeleteFileW refuses read-only files). True
// when the file is gone afterwards, gone already included; a file that still
// cannot be deleted (held open without delete sharing) keeps its attributes.
bool DeleteFileEvenReadOnly(const std::wstring& path);

}  // namespace launcher
