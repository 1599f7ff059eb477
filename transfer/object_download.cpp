#include "transfer/object_download.h"

#include <windows.h>

#include <filesystem>
#include <system_error>
#include <vector>

#include "core/install_layout.h"
#include "core/paths.h"
#include "core/text.h"
#include "files/file_handle.h"
#include "release/file_digest.h"
#include "transfer/body_chunks.h"
#include "transfer/http_request.h"

namespace launcher {
namespace {

constexpr std::uint64_t kMebibyte = 1048576;

bool WriteAll(HANDLE file, const std::uint8_t* bytes, DWORD count) {
  DWORD written = 0;
  return WriteFile(file, bytes, count, &written, nullptr) && written == count;
}

// The body of `exchange` into `path`; DownloadToFile's rules.
bool WriteBody(HttpRequest exchange, const std::wstring& path, std::uint64_t limit, const ByteProgress& progress) {
  if (exchange.contentLength > limit) return false;

  FileHandle file(CreateFileW(path.c_str(), GENERIC_WRITE, FILE_SHARE_READ, nullptr, CREATE_ALWAYS,
                              FILE_ATTRIBUTE_NORMAL, nullptr));
  if (!file) throw LauncherError{L"Could not write " + LastPathComponent(path) + L"."};

  // After a failed write (a full disk) the body is still read to its end and
  // reported, and the failure is reported once the body is complete. Nothing
  // more is written then: a later write that succeeds would leave a hole.
  bool writeFailed = false;
  std::uint64_t written = 0;
  std::vector<std::uint8_t> chunk;
  // WinHTTP reports 0 ready bytes once the body is complete.
  for (DWORD ready = BytesReady(exchange); ready != 0; ready = BytesReady(exchange)) {
    chunk.resize(ready);
    const DWORD read = ReadBytes(exchange, chunk.data(), ready);
    if (read == 0) break;
    // Over plain HTTP anyone on the way can append without end; a body past
    // its signed size can never match, so it is neither stored nor read on.
    if (read > limit - written) return false;
    // A body that runs past its own Content-Length is not what the server
    // announced; a strict client stops at the length and fails the digest.
    // Wine's WinHTTP sometimes reads on, so decide it here, the same way.
    if (exchange.contentLength != 0 && read > exchange.contentLength - written) return false;
    if (!writeFailed && !WriteAll(file.get(), chunk.data(), read)) writeFailed = true;
    written += read;
    progress(written, exchange.contentLength);
  }

  // Closing can report a write that the cache held back (a full disk).
  if (!CloseHandle(file.release())) writeFailed = true;
  if (writeFailed || (exchange.contentLength != 0 && written != exchange.contentLength)) {
    throw LauncherError{L"The download was cut short. Check your internet connection and try again."};
  }
  return true;
}

}  // namespace

void ReportDownload(std::uint64_t done, std::uint64_t total, const PatchProgress& progress) {
  const std::uint64_t percent = total == 0 ? 0 : done * 100 / total;
  const std::wstring text =
      L"Downloading: " + std::to_wstring(done / kMebibyte) + L" of " + std::to_wstring(total / kMebibyte) + L" MB";
  progress(text, static_cast<std::int32_t>(percent));
}

// The server must have answered 200 before anything on disk is touched, so a
// missing object never truncates an earlier ".partial" file.
bool DownloadToFile(std::wstring_view url, const std::wstring& path, std::uint64_t limit,
                    const ByteProgress& progress) {
  return WriteBody(OpenGet(url), path, limit, progress);
}

bool DownloadToFile(HttpSession& session, std::wstring_view url, const std::wstring& path, std::uint64_t limit,
                    const ByteProgress& progress) {
  return WriteBody(session.Get(url), path, limit, progress);
}

std::wstring FetchChecked(HttpSession& session, std::wstring_view baseUrl, const ManifestFile& file,
                          const std::wstring& destination, const ByteProgress& progress) {
  const std::wstring partial = destination + std::wstring(kPartialSuffixWide);

  // A folder that cannot be made shows up as a file that cannot be written.
  std::error_code ignored;
  std::filesystem::create_directories(std::filesystem::path(destination).parent_path(), ignored);

  const std::wstring url = std::wstring(baseUrl) + L"/objects/" + WidenAscii(file.sha256);
  // The digest is taken from the file as it lies on disk, not from the bytes
  // as they arrived, so what gets moved into place is what was verified.
  if (!DownloadToFile(session, url, partial, file.size, progress) || FileSha256(partial) != file.sha256) {
    DeleteFileW(partial.c_str());
    throw LauncherError{L"A downloaded file did not match the release, so it was thrown away. Try again."};
  }
  return partial;
}

std::wstring FetchChecked(std::wstring_view baseUrl, const ManifestFile& file, const std::wstring& destination,
                          std::uint64_t doneBefore, std::uint64_t total, const PatchProgress& progress) {
  HttpSession session;
  return FetchChecked(session, baseUrl, file, destination, [&](std::uint64_t written, std::uint64_t) {
    ReportDownload(doneBefore + written, total, progress);
  });
}

}  // namespace launcher
