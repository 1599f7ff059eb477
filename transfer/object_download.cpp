#include "transfer/object_download.h"

#include <windows.h>

#include <filesystem>
#include <system_error>
#include <vector>

#include "core/install_layout.h"
#include "core/paths.h"
#include "core/release_layout.h"
#include "core/text.h"
#include "files/file_handle.h"
#include "files/folder_walk.h"
#include "release/file_digest.h"
#include "transfer/http_request.h"
#include "transfer/request_completion.h"

namespace launcher {
namespace {

bool WriteAll(HANDLE file, const std::uint8_t* bytes, DWORD count) {
  DWORD written = 0;
  return WriteFile(file, bytes, count, &written, nullptr) && written == count;
}

// The body of `request` into `path`; DownloadToFile's rules. With `kept`
// bytes of the object already in `path` (the body being the rest), the body
// is appended after them, and progress counts them; `limit` is the whole
// object's.
bool WriteBody(HttpRequest request, const std::wstring& path, std::uint64_t kept, std::uint64_t limit,
               const ByteProgress& progress) {
  limit -= std::min(kept, limit);
  if (request.contentLength() > limit) return false;

  FileHandle file(CreateFileW(path.c_str(), GENERIC_WRITE, FILE_SHARE_READ, nullptr,
                              kept > 0 ? OPEN_ALWAYS : CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr));
  if (!file) throw LauncherError{L"Could not write " + LastPathComponent(path) + L"."};
  if (kept > 0) {
    // The rest goes right after the kept bytes, whatever followed them.
    LARGE_INTEGER end;
    end.QuadPart = static_cast<LONGLONG>(kept);
    if (!SetFilePointerEx(file.get(), end, nullptr, FILE_BEGIN) || !SetEndOfFile(file.get())) {
      file.reset();
      DeleteFileW(path.c_str());
      throw LauncherError{L"Could not write " + LastPathComponent(path) + L"."};
    }
  }

  // After a failed write (a full disk) the body is still read to its end and
  // reported, and the failure is reported once the body is complete. Nothing
  // more is written then: a later write that succeeds would leave a hole.
  bool writeFailed = false;
  std::uint64_t written = 0;
  std::vector<std::uint8_t> block;
  // WinHTTP reports 0 ready bytes once the body is complete.
  for (DWORD ready = BytesReady(request); ready != 0; ready = BytesReady(request)) {
    block.resize(ready);
    const DWORD read = ReadBytes(request, block.data(), ready);
    if (read == 0) break;
    // Over plain HTTP anyone on the way can append without end; a body past
    // its signed size can never match, so it is neither stored nor read on.
    if (read > limit - written) return false;
    // A body that runs past its own Content-Length is not what the server
    // announced; a strict client stops at the length and fails the digest.
    // Wine's WinHTTP sometimes reads on, so decide it here, the same way.
    if (request.contentLength() != 0 && read > request.contentLength() - written) return false;
    if (!writeFailed && !WriteAll(file.get(), block.data(), read)) writeFailed = true;
    written += read;
    progress(kept + written, request.contentLength());
  }

  // Closing can report a write that the cache held back (a full disk).
  if (!CloseHandle(file.release())) writeFailed = true;
  // What a failed write left is not known to be the object's beginning; a
  // body cut short left only the object's own bytes, which a later attempt
  // goes on from.
  if (writeFailed) DeleteFileW(path.c_str());
  if (writeFailed || (request.contentLength() != 0 && written != request.contentLength())) {
    throw LauncherError{L"The download was cut short. Check your internet connection and try again."};
  }
  return true;
}

}  // namespace

// The server must have answered 200 before anything on disk is touched, so a
// missing object never truncates an earlier ".partial" file.
bool DownloadToFile(std::wstring_view url, const std::wstring& path, std::uint64_t limit,
                    const ByteProgress& progress) {
  return WriteBody(OpenGet(url), path, 0, limit, progress);
}

bool DownloadToFile(HttpSession& session, std::wstring_view url, const std::wstring& path, std::uint64_t limit,
                    const ByteProgress& progress) {
  return WriteBody(session.Get(url), path, 0, limit, progress);
}

std::wstring FetchChecked(HttpSession& session, std::wstring_view baseUrl, const ManifestFile& file,
                          const std::wstring& destination, const ByteProgress& progress, bool resume) {
  const std::wstring partial = destination + std::wstring(kPartialSuffixWide);

  // A folder that cannot be made shows up as a file that cannot be written.
  std::error_code ignored;
  std::filesystem::create_directories(std::filesystem::path(destination).parent_path(), ignored);

  const std::wstring url = std::wstring(baseUrl) + L"/" + std::wstring(ObjectPathPrefixWide) + WidenAscii(file.sha256);
  const std::wstring kMismatch = L"A downloaded file did not match the release, so it was thrown away. Try again.";

  std::uint64_t kept = 0;
  if (!resume || !FileSizeOf(partial, kept) || kept > file.size) kept = 0;
  if (kept > 0 && kept == file.size) {
    // All there already: nothing to ask for.
    if (FileSha256(partial) == file.sha256) {
      progress(kept, 0);
      return partial;
    }
    DeleteFileW(partial.c_str());
    kept = 0;
  }

  bool complete = false;
  bool answered = false;
  if (kept > 0) {
    progress(kept, 0);
    HttpSession::RangeReply reply = session.GetRest(url, kept, file.size);
    if (reply.answer == RangeAnswer::Refused) {
      // Not the rest of this object: what is kept cannot be built on.
      DeleteFileW(partial.c_str());
    } else {
      // A 200 brings the whole object, which replaces the kept bytes.
      const std::uint64_t before = reply.answer == RangeAnswer::Exact ? kept : 0;
      complete = WriteBody(std::move(reply.request), partial, before, file.size, progress);
      answered = true;
    }
  }
  if (!answered) complete = WriteBody(session.Get(url), partial, 0, file.size, progress);

  // The digest is taken from the file as it lies on disk, not from the bytes
  // as they arrived, so what gets moved into place is what was verified.
  if (!complete || FileSha256(partial) != file.sha256) {
    DeleteFileW(partial.c_str());
    throw LauncherError{kMismatch};
  }
  return partial;
}

}  // namespace launcher
