#include "transfer/body_fetch.h"

#include "core/records.h"
#include "transfer/body_chunks.h"
#include "transfer/http_request.h"

namespace launcher {

std::vector<std::uint8_t> FetchBody(std::wstring_view url) {
  HttpRequest exchange = OpenGet(url);

  std::vector<std::uint8_t> body;
  std::vector<std::uint8_t> chunk;
  // WinHTTP reports 0 ready bytes once the body is complete.
  for (DWORD ready = BytesReady(exchange); ready != 0; ready = BytesReady(exchange)) {
    chunk.resize(ready);
    const DWORD read = ReadBytes(exchange, chunk.data(), ready);
    if (read == 0) break;
    chunk.resize(read);
    body.insert(body.end(), chunk.begin(), chunk.end());
    // Stop at the first chunk over the ceiling rather than draining the
    // rest: a server that sends too much may send without end.
    if (body.size() > kMaxBodyBytes) throw LauncherError{L"The release server sent more than expected."};
  }
  return body;
}

}  // namespace launcher
