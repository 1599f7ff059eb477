#include "transfer/body_fetch.h"

#include <algorithm>

#include "core/records.h"
#include "transfer/http_request.h"
#include "transfer/request_completion.h"

namespace launcher {

std::vector<std::uint8_t> FetchBody(std::wstring_view url, std::size_t ceiling, HANDLE stop) {
  HttpRequest request = OpenGet(url, stop);

  std::vector<std::uint8_t> body;
  // A stated length sizes the buffer once, so a manifest of many MiB is not
  // copied again at every doubling; it is only a hint (the body may end
  // early or run on), and never more than the ceiling allows.
  if (request.contentLength() > 0) {
    body.reserve(static_cast<std::size_t>(std::min<std::uint64_t>(request.contentLength(), ceiling + 1)));
  }
  // WinHTTP reports 0 ready bytes once the body is complete. Each read is
  // copied from the completion's buffer straight into the body's tail.
  for (DWORD ready = BytesReady(request); ready != 0; ready = BytesReady(request)) {
    const std::size_t size = body.size();
    // Never asks for more than one byte past the ceiling: that byte is
    // enough to refuse the body.
    const DWORD want = static_cast<DWORD>(std::min<std::size_t>(ready, ceiling + 1 - size));
    if (body.capacity() < size + want) body.reserve(std::max(size + want, std::min(2 * size, ceiling + 1)));
    body.resize(size + want);
    const DWORD read = ReadBytes(request, body.data() + size, want);
    body.resize(size + read);
    if (read == 0) break;
    // Stop at the first read over the ceiling rather than draining the
    // rest: a server that sends too much may send without end.
    if (body.size() > ceiling) throw LauncherError{L"The release server sent more than expected."};
  }
  return body;
}

}  // namespace launcher
