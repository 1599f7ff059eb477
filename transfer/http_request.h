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
#include "transfer/byte_range.h"
#include "transfer/request_completion.h"

namespace launcher {

using WinHttpHandle = UniqueHandle<HINTERNET, &WinHttpCloseHandle>;

// Thrown by a request whose stop event was set while it waited: the caller
// gave up on it, no sentence is due.
struct TransferStopped {};

// The pieces of one URL that WinHTTP needs.
struct CrackedUrl {
  std::wstring host;       // at most 255 characters
  std::uint16_t port = 0;  // as the platform reports it (80 for http without a port)
  std::wstring path;       // URL path, at most 2047 characters (a query stays in it)
  bool secure = false;     // scheme is https
};

// One GET request with its response headers taken, its body still to read
// (BytesReady and ReadBytes), move-only. Closing it closes the request, then
// the connection and the session when it has its own (a one-off request);
// a request of an HttpSession holds the request alone. Assigning over a
// request closes the old one in that order too.
//
// Every wait on it ends with TransferStopped once its stop event is set:
// the event is looked at every 50 ms of waiting, and as often while
// completions keep coming.
class HttpRequest {
 public:
  // What a request holds. Members are destroyed in reverse order, so the
  // handles close request, connection, session.
  struct Parts {
    WinHttpHandle session;
    WinHttpHandle connection;
    WinHttpHandle request;
    std::shared_ptr<RequestCompletion> completion;
    HANDLE stop = nullptr;            // an event that ends every wait; none when null
    std::uint64_t contentLength = 0;  // Content-Length (64-bit), 0 when absent or unreadable
  };

  HttpRequest() = default;
  explicit HttpRequest(Parts parts) noexcept : parts_(std::move(parts)) {}
  HttpRequest(HttpRequest&&) noexcept = default;
  HttpRequest& operator=(HttpRequest&& other) noexcept {
    if (this != &other) {
      // Member-wise assignment would close the old session before its
      // request: the old parts leave whole and close in their own order,
      // and whatever Parts holds moves with them.
      Parts old = std::move(parts_);
      parts_ = std::move(other.parts_);
    }
    return *this;
  }

  // True while the request handle is open.
  explicit operator bool() const { return static_cast<bool>(parts_.request); }
  HINTERNET handle() const { return parts_.request.get(); }
  RequestCompletion& completion() const { return *parts_.completion; }
  HANDLE stop() const { return parts_.stop; }
  std::uint64_t contentLength() const { return parts_.contentLength; }

 private:
  friend class HttpSession;
  friend HttpRequest OpenGet(std::wstring_view url, HANDLE stop);
  Parts parts_;
};

// Throws "The release address is not valid.".
CrackedUrl CrackUrl(std::wstring_view url);

// Sends a GET from a session of its own and waits for the response headers,
// with HttpSession's retry of a request that failed on a dropped kept
// connection (Wine pools connections across sessions). On return the status
// is 200 and no body byte has been read. With a `stop` event, every wait of
// the request ends with TransferStopped once the event is set. Throws, with
// every handle closed:
//   "The release address is not valid."
//   "The launcher could not start a web connection."
//   "The launcher could not reach the release server."
//   "The launcher could not make a request to the release server."
//   "Can't reach the update server. Check your internet connection. Trying again..."
//   "The release server did not have what the launcher asked for."
HttpRequest OpenGet(std::wstring_view url, HANDLE stop = nullptr);

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
// One thread only: workers never share a session. Every request it returns
// must end before the session does. With a `stop` event, every wait of its
// requests ends with TransferStopped once the event is set.
class HttpSession {
 public:
  explicit HttpSession(HANDLE stop = nullptr) : stop_(stop) {}
  HttpSession(const HttpSession&) = delete;
  HttpSession& operator=(const HttpSession&) = delete;

  // OpenGet on this session's connection, with OpenGet's sentences.
  HttpRequest Get(std::wstring_view url);

  // A range request's outcome: `request` is open, its body to read, when
  // `answer` is Exact (the bytes asked for) or Whole (the whole object,
  // from its first byte); it is closed when the range was Refused. Never
  // Failed: such an answer is thrown as Get's sentence.
  struct RangeReply {
    RangeAnswer answer = RangeAnswer::Refused;
    HttpRequest request;
  };

  // A GET of `range` of an object ("Range: bytes=first-last", or
  // "bytes=first-" for an open range). Exact only for a 206 whose
  // Content-Range is exactly the range asked for, total included; Whole for
  // a 200; Refused for an answer that says the range itself is wrong (a 416,
  // a 206 of another range or of none named). A refusal is an answer, not
  // an error: nothing is thrown for it. Any other answer (a busy server's
  // 429 or 503, a 404) says nothing about the range and throws, as Get does,
  // "The release server did not have what the launcher asked for."; a
  // request that got no answer throws Get's other sentences.
  RangeReply GetRange(std::wstring_view url, const ByteRange& range);

  // GetRange of the rest of an object of `size` bytes from byte `from` on
  // (0 < from < size), asked as an open range ("Range: bytes=<from>-").
  RangeReply GetRest(std::wstring_view url, std::uint64_t from, std::uint64_t size);

 private:
  friend HttpRequest OpenGet(std::wstring_view url, HANDLE stop);

  void Drop();
  // Sends until answered, trying a request that failed on a dropped kept
  // connection again; the status is not looked at.
  HttpRequest Send(const CrackedUrl& cracked, const std::wstring& headers);

  // Request before connection before session: members close in reverse.
  WinHttpHandle session_;
  WinHttpHandle connection_;
  std::wstring host_;
  std::uint16_t port_ = 0;
  HANDLE stop_;
};

}  // namespace launcher
