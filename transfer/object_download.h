// Downloads one release object into a ".partial" file beside its final place
// and verifies it against the manifest's digest.
#pragma once

#include <cstdint>
#include <functional>
#include <string>
#include <string_view>

#include "core/records.h"
#include "transfer/http_request.h"

namespace launcher {

// Bytes written so far and the response's Content-Length (0 when unknown).
using ByteProgress = std::function<void(std::uint64_t written, std::uint64_t contentLength)>;

// GETs `url` into `path` (created or truncated), reporting after every
// block written. Returns false, having read no further, as soon as the body turns
// out longer than `limit` bytes (a named Content-Length over `limit` is
// refused before `path` is touched); `path` then holds at most `limit` bytes.
// Throws OpenGet's messages,
//   "Could not write <file name>."
//   "The download was interrupted. Check your internet connection and try again."
//   "The download was cut short. Check your internet connection and try again."
bool DownloadToFile(std::wstring_view url, const std::wstring& path, std::uint64_t limit, const ByteProgress& progress);
// The same on `session`'s connection.
bool DownloadToFile(HttpSession& session, std::wstring_view url, const std::wstring& path, std::uint64_t limit,
                    const ByteProgress& progress);

// Fetches baseUrl + "/objects/" + file.sha256 on `session`'s connection into
// destination + ".partial", creating missing folders, reporting the file's
// own bytes written through `progress`, and returns the ".partial" path once
// its digest matches. A download that runs past `file.size` (the signed
// size) is stopped there; it and a mismatching download are deleted and
// throw
//   "A downloaded file did not match the release, so it was thrown away. Try again."
// Does not touch `destination` itself.
//
// With `resume`, the caller vouches that an existing ".partial" holds the
// beginning of this very object (at most its signed size). Its N bytes then
// count as done from the start; at the full size it is verified and, when
// it matches, returned without a request (else fetched whole); below it
// only the rest is asked for ("Range: bytes=N-"): a 206 with exactly that
// rest is appended, a 200 replaces the file, an answer that says the range
// is wrong (a 416, a 206 of another range) deletes it and the whole object
// is fetched. Any other answer (a busy server's 503, a 404) fails as a
// plain request does, with the ".partial" kept for the next attempt.
// Without `resume` an existing ".partial" is replaced. A download cut short or stopped keeps what it wrote; a
// failed write, a body past the signed size and a mismatch delete it.
std::wstring FetchChecked(HttpSession& session, std::wstring_view baseUrl, const ManifestFile& file,
                          const std::wstring& destination, const ByteProgress& progress, bool resume = false);

}  // namespace launcher
