// One HTTP GET to the release server, with user-facing errors.
#pragma once

#include <windows.h>

#include <winhttp.h>

#include <cstdint>
#include <memory>
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

// Thrown by a request whose stop event was set while it waited: the caller
// gave up on it, no sentence is due.
struct TransferStopped {};

// Thrown by HttpSession::GetRest when the server answered a range request
// with anything but the rest asked for or the whole object.
struct RangeRefused {};

// What WinHTTP's completions hand to the thread waiting for them (defined
// in the source file).
struct RequestCompletion;

// One GET exchange, move-only. Members are destroyed in reverse order, so
// the handles close request, connection, session; assigning over an
// exchange closes the old one in that order too. An exchange made by an
// HttpSession holds the request alone; the session keeps the rest.
//
// Every call on the request is asynchronous underneath, and its caller
// waits for the completion or for `stop`: a blocked synchronous call can be
// ended from another thread on Windows by closing its handle, but not under
// Wine, where it runs on until its own time-out. An exchange is used on the
// thread that sent it: a completion WinHTTP runs on that thread inside the
// call is taken without a wait.
struct HttpRequest {
  WinHttpHandle session;
  WinHttpHandle connection;
  WinHttpHandle request;
  std::shared_ptr<RequestCompletion> completion;
  std::uint64_t contentLength = 0;  // Content-Length (64-bit), 0 when absent or unreadable
  HANDLE stop = nullptr;            // an event that ends every wait; none when null
  bool rest = false;                // a 206 with the rest of the object asked for

  HttpRequest() = default;
  HttpRequest(HttpRequest&&) noexcept = default;
  HttpRequest& operator=(HttpRequest&& other) noexcept {
    if (this != &other) {
      // The default member-wise assignment would close the session first.
      request = std::move(other.request);
      connection = std::move(other.connection);
      session = std::move(other.session);
      completion = std::move(other.completion);
      contentLength = other.contentLength;
      stop = other.stop;
      rest = other.rest;
    }
    return *this;
  }
};

// Waits for the completion of the call just started on `exchange`. Returns
// its result (a byte count, or 0) and sets `failed` when it failed. Throws
// TransferStopped once the exchange's stop event is set: the event is looked
// at every 50 ms of waiting, and as often while completions keep coming.
DWORD AwaitCompletion(HttpRequest& exchange, bool& failed);

// The completion's buffer for an asynchronous read of `count` bytes: WinHTTP
// may still write it after the caller gave up, so it lives as long as the
// request handle.
std::uint8_t* CompletionBuffer(HttpRequest& exchange, DWORD count);

// Throws "The release address is not valid.".
CrackedUrl CrackUrl(std::wstring_view url);

// Sends a GET from a session of its own and waits for the response headers.
// A request that failed before any answer on a connection kept from an
// earlier request (Wine pools connections across sessions) is sent again.
// On return the status is 200 and no body byte has been read. Throws, with
// every handle closed:
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
// does not fail the requests after it.
//
// A server or a middlebox may drop a kept connection without a word; the
// request sent on it then fails before any answer. Such a request is sent
// once more on a fresh session; no other failure is tried again.
//
// One thread only: workers never share a session. Every exchange it returns
// must end before the session does. With a `stop` event, every wait of its
// requests ends with TransferStopped once the event is set.
class HttpSession {
 public:
  explicit HttpSession(HANDLE stop = nullptr) : stop_(stop) {}
  HttpSession(const HttpSession&) = delete;
  HttpSession& operator=(const HttpSession&) = delete;

  // OpenGet on this session's connection, with OpenGet's sentences.
  HttpRequest Get(std::wstring_view url);

  // A GET of an object of `size` bytes from byte `from` on (0 < from <
  // size), with "Range: bytes=<from>-". Returns a 206 whose Content-Range
  // is exactly "bytes <from>-<size - 1>/<size>" (`rest` set), or a 200 (the
  // whole object). Throws RangeRefused for any other answer (a 416, another
  // range, a missing object), and Get's sentences for the rest.
  HttpRequest GetRest(std::wstring_view url, std::uint64_t from, std::uint64_t size);

 private:
  void Drop();
  HttpRequest Send(std::wstring_view url, std::uint64_t from, std::uint64_t size);

  // Request before connection before session: members close in reverse.
  WinHttpHandle session_;
  WinHttpHandle connection_;
  std::wstring host_;
  std::uint16_t port_ = 0;
  HANDLE stop_;
};

}  // namespace launcher
