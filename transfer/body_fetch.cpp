#include "transfer/body_fetch.h"

#include "core/records.h"
#include "transfer/body_chunks.h"
#include "transfer/http_request.h"

namespace launcher {

std::vector<std::uint8_t> FetchBody(std::wstring_view url, std::size_t ceiling) {
  const HttpRequest exchange = OpenGet(url);
  const HINTERNET request = exchange.request.get();

  std::vector<std::uint8_t> body;
  std::vector<std::uint8_t> chunk;
  // WinHTTP reports 0 ready bytes once the body is complete.
  for (DWORD ready = BytesReady(request); ready != 0; ready = BytesReady(request)) {
    chunk.resize(ready);
    const DWORD read = ReadBytes(request, chunk.data(), ready);
    if (read == 0) break;
    chunk.resize(read);
    body.insert(body.end(), chunk.begin(), chunk.end());
    // Stop at the first chunk over the ceiling rather than draining the
    // rest: a server that sends too much may send without end.
    if (body.size() > ceiling) throw LauncherError{L"The release server sent more than expected."};
  }
  return body;
}

}  // namespace launcher
