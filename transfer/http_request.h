// One HTTP GET to the release server, with user-facing errors.
#pragma once

#include <windows.h>

#include <winhttp.h>

#include <cstdint>
#include <string>
#include <string_view>
#include <utility>

#include "core/unique_handle.h"
#include "release/release_config.h"

namespace launcher {

using WinHttpHandle = UniqueHandle<HINTERNET, &WinHttpCloseHandle>;

// The pieces of one URL that WinHTTP needs.
struct CrackedUrl {
  std::wstring host;       // at most 255 characters
  std::uint16_t port = 0;  // as the platform reports it (80 for http without a port)
  std::wstring path;       // URL path, at most 2047 characters (a query stays in it)
  bool secure = false;     // scheme is https
};

// One GET exchange, move-only. Members are destroyed in reverse order, so
// the handles close request, connection, session; assigning over an
// exchange closes the old one in that order too. An exchange made by an
// HttpSession holds the request alone; the session keeps the rest.
struct HttpRequest {
  WinHttpHandle session;
  WinHttpHandle connection;
  WinHttpHandle request;
  std::uint64_t contentLength = 0;  // Content-Length (64-bit), 0 when absent or unreadable

  HttpRequest() = default;
  HttpRequest(HttpRequest&&) noexcept = default;
  HttpRequest& operator=(HttpRequest&& other) noexcept {
    if (this != &other) {
      // The default member-wise assignment would close the session first.
      request = std::move(other.request);
      connection = std::move(other.connection);
      session = std::move(other.session);
      contentLength = other.contentLength;
    }
    return *this;
  }
};

// Throws "The release address is not valid.".
CrackedUrl CrackUrl(std::wstring_view url);

// Sends a GET and waits for the response headers. On return the status is
// 200 and no body byte has been read. Throws, with every handle closed:
//   "The release address is not valid."
//   "The launcher could not start a web connection."
//   "The launcher could not reach the release server."
//   "The launcher could not make a request to the release server."
//   "Can't reach the update server. Check your internet connection. Trying again..."
//   "The release server did not have what the launcher asked for."
HttpRequest OpenGet(std::wstring_view url);

// A WinHTTP session and its connection to one server, kept for a worker's
// whole run so that its requests reuse one open connection (WinHTTP keeps
// the connection alive between requests of one session) instead of paying
// a new one per file. Each request is still its own request handle. After a
// request that failed on the way (no connection, no response) the session is
// dropped and the next request starts a fresh one, so one broken connection
// does not fail the requests after it. One thread only: workers never share
// a session. Every exchange it returns must end before the session does.
class HttpSession {
 public:
  HttpSession() = default;
  HttpSession(const HttpSession&) = delete;
  HttpSession& operator=(const HttpSession&) = delete;

  // OpenGet on this session's connection, with OpenGet's sentences.
  HttpRequest Get(std::wstring_view url);

 private:
  // Request before connection before session: members close in reverse.
  WinHttpHandle session_;
  WinHttpHandle connection_;
  std::wstring host_;
  std::uint16_t port_ = 0;
};

}  // namespace launcher
