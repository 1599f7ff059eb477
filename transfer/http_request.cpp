#include "transfer/http_request.h"

#include <atomic>
#include <vector>

#include "core/records.h"
#include "core/text.h"
#include "files/trace.h"

namespace launcher {

// One request's completions. WinHTTP holds it through the request handle's
// context (a heap copy of a shared pointer, deleted when the handle
// closes), so a completion that comes after its waiter gave up, or a read
// still filling `buffer`, finds it alive.
//
// The waiter sleeps on `completions` with WaitOnAddress rather than on an
// event: under Wine every SetEvent and every wait on an event is a round
// trip to wineserver, while WaitOnAddress and WakeByAddressSingle stay in
// the process (futexes on Linux). A body comes in 8 KiB pieces (Wine's
// receive buffer), each a query and a read, so those round trips halved the
// download speed on loopback.
struct RequestCompletion {
  bool failed = false;
  DWORD result = 0;  // bytes available or read; the error code when failed
  std::vector<std::uint8_t> buffer;
  // The request looked a server up or opened a connection of its own; when
  // it did neither, it went out on a kept connection.
  bool connectedAnew = false;

  // The thread that makes the request's calls. WinHTTP runs a completion on
  // it, inside the call, when the call needs no waiting (Wine does so for a
  // read that its receive buffer already holds); such a completion is taken
  // when the call returns.
  DWORD caller = GetCurrentThreadId();
  bool inlined = false;  // written and read by `caller` only
  // Completions made on WinHTTP's own threads, and how many the caller took.
  std::atomic<LONG> completions{0};
  LONG taken = 0;
  ULONGLONG nextStopLook = 0;  // GetTickCount64 time of the next look at the stop event

  void Complete(bool failure, DWORD value) {
    failed = failure;
    result = value;
    if (GetCurrentThreadId() == caller) {
      inlined = true;
      return;
    }
    completions.fetch_add(1, std::memory_order_release);
    WakeByAddressSingle(&completions);
  }
};

namespace {

constexpr DWORD kHostChars = 256;   // 255 and the terminator
constexpr DWORD kPathChars = 2048;  // 2047 and the terminator

constexpr int kResolveTimeoutMs = 8000;
constexpr int kConnectTimeoutMs = 8000;
constexpr int kSendTimeoutMs = 15000;
constexpr int kReceiveTimeoutMs = 30000;

[[noreturn]] void Fail(const wchar_t* message) { throw LauncherError{message}; }

// The Content-Length header as a 64-bit number, 0 when it is absent or not a
// plain decimal number. Read as text because WINHTTP_QUERY_FLAG_NUMBER yields
// only 32 bits (Wine even stops at 2^31 - 1) and Wine lacks
// WINHTTP_QUERY_FLAG_NUMBER64: a game file of several GiB would otherwise
// get a length that its download can never match.
std::uint64_t ContentLength(HINTERNET request) {
  wchar_t text[32] = {};
  DWORD size = sizeof(text);
  if (!WinHttpQueryHeaders(request, WINHTTP_QUERY_CONTENT_LENGTH, WINHTTP_HEADER_NAME_BY_INDEX, text, &size,
                           WINHTTP_NO_HEADER_INDEX)) {
    return 0;
  }
  return ParseDecimal(std::wstring_view(text, size / sizeof(wchar_t))).value_or(0);
}

}  // namespace

CrackedUrl CrackUrl(std::wstring_view url) {
  // WinHttpCrackUrl reads the given number of characters; the copy only
  // guards against a view into a longer string.
  const std::wstring text(url);
  wchar_t host[kHostChars] = {};
  wchar_t path[kPathChars] = {};
  URL_COMPONENTS parts{};
  parts.dwStructSize = sizeof(parts);
  parts.lpszHostName = host;
  parts.dwHostNameLength = kHostChars;
  parts.lpszUrlPath = path;
  parts.dwUrlPathLength = kPathChars;
  // A host or path that does not fit its buffer makes the call fail with
  // ERROR_INSUFFICIENT_BUFFER, which is how over-long addresses are refused.
  if (!WinHttpCrackUrl(text.c_str(), static_cast<DWORD>(text.size()), 0, &parts)) {
    Fail(L"The release address is not valid.");
  }
  CrackedUrl cracked;
  cracked.host.assign(host, parts.dwHostNameLength);
  cracked.port = parts.nPort;
  cracked.path.assign(path, parts.dwUrlPathLength);
  cracked.secure = parts.nScheme == INTERNET_SCHEME_HTTPS;
  return cracked;
}

namespace {

using CompletionRef = std::shared_ptr<RequestCompletion>;

void CALLBACK OnStatus(HINTERNET, DWORD_PTR context, DWORD status, LPVOID info, DWORD length) {
  if (context == 0) return;  // the session's and connections' own notices
  auto* ref = reinterpret_cast<CompletionRef*>(context);
  RequestCompletion& completion = **ref;
  switch (status) {
    case WINHTTP_CALLBACK_STATUS_SENDREQUEST_COMPLETE:
    case WINHTTP_CALLBACK_STATUS_HEADERS_AVAILABLE:
      completion.Complete(false, 0);
      break;
    case WINHTTP_CALLBACK_STATUS_DATA_AVAILABLE:
      completion.Complete(false, *static_cast<const DWORD*>(info));
      break;
    case WINHTTP_CALLBACK_STATUS_READ_COMPLETE:
      completion.Complete(false, length);
      break;
    case WINHTTP_CALLBACK_STATUS_RESOLVING_NAME:
    case WINHTTP_CALLBACK_STATUS_CONNECTING_TO_SERVER:
      // Comes before the send's completion, whose event publishes it.
      completion.connectedAnew = true;
      break;
    case WINHTTP_CALLBACK_STATUS_REQUEST_ERROR:
      completion.Complete(true, static_cast<const WINHTTP_ASYNC_RESULT*>(info)->dwError);
      break;
    case WINHTTP_CALLBACK_STATUS_HANDLE_CLOSING:
      delete ref;  // the last notice of the handle
      break;
    default:
      break;
  }
}

WinHttpHandle OpenSession() {
  WinHttpHandle session(WinHttpOpen(L"StonewakeLauncher/1.0", WINHTTP_ACCESS_TYPE_DEFAULT_PROXY, WINHTTP_NO_PROXY_NAME,
                                    WINHTTP_NO_PROXY_BYPASS, WINHTTP_FLAG_ASYNC));
  if (!session) Fail(L"The launcher could not start a web connection.");
  constexpr DWORD kNotices = WINHTTP_CALLBACK_FLAG_ALL_COMPLETIONS | WINHTTP_CALLBACK_FLAG_HANDLES |
                             WINHTTP_CALLBACK_FLAG_RESOLVE_NAME | WINHTTP_CALLBACK_FLAG_CONNECT_TO_SERVER;
  if (WinHttpSetStatusCallback(session.get(), OnStatus, kNotices, 0) == WINHTTP_INVALID_STATUS_CALLBACK) {
    Fail(L"The launcher could not start a web connection.");
  }
  // Best effort: without these the platform's own defaults still bound
  // every phase.
  WinHttpSetTimeouts(session.get(), kResolveTimeoutMs, kConnectTimeoutMs, kSendTimeoutMs, kReceiveTimeoutMs);
  return session;
}

WinHttpHandle Connect(HINTERNET session, const CrackedUrl& cracked) {
  WinHttpHandle connection(WinHttpConnect(session, cracked.host.c_str(), cracked.port, 0));
  if (!connection) Fail(L"The launcher could not reach the release server.");
  return connection;
}

enum class Sent {
  Answered,
  Failed,        // on the way: no connection, no response
  FailedOnKept,  // before any answer, on a connection kept from an earlier request
};

// Opens and sends the request on `connection`; throws for what is not a
// failure on the way.
// `error` gets the failure's WinHTTP error code, for the developer's trace.
Sent SendGet(HINTERNET connection, const CrackedUrl& cracked, HttpRequest& exchange, DWORD& error,
             const std::wstring& headers = {}) {
  exchange.request.reset(WinHttpOpenRequest(connection, L"GET", cracked.path.c_str(), nullptr, WINHTTP_NO_REFERER,
                                            WINHTTP_DEFAULT_ACCEPT_TYPES, cracked.secure ? WINHTTP_FLAG_SECURE : 0));
  if (!exchange.request) Fail(L"The launcher could not make a request to the release server.");
  exchange.completion = std::make_shared<RequestCompletion>();
  auto* ref = new CompletionRef(exchange.completion);
  DWORD_PTR context = reinterpret_cast<DWORD_PTR>(ref);
  if (!WinHttpSetOption(exchange.request.get(), WINHTTP_OPTION_CONTEXT_VALUE, &context, sizeof(context))) {
    delete ref;
    Fail(L"The launcher could not make a request to the release server.");
  }
  // Wine's WinHttpSetTimeouts leaves the wait for the response headers
  // unbounded, so a server that takes the request and stays silent would hold
  // a check for ever. Windows already applies the receive time-out there;
  // naming it again changes nothing on Windows.
  DWORD responseTimeout = kReceiveTimeoutMs;
  WinHttpSetOption(exchange.request.get(), WINHTTP_OPTION_RECEIVE_RESPONSE_TIMEOUT, &responseTimeout,
                   sizeof(responseTimeout));
  if (!WinHttpSendRequest(exchange.request.get(), headers.empty() ? WINHTTP_NO_ADDITIONAL_HEADERS : headers.c_str(),
                          static_cast<DWORD>(headers.size()), WINHTTP_NO_REQUEST_DATA, 0, 0, context)) {
    error = GetLastError();
    return Sent::Failed;
  }
  bool failed = false;
  error = AwaitCompletion(exchange, failed);
  if (!failed) {
    if (!WinHttpReceiveResponse(exchange.request.get(), nullptr)) {
      error = GetLastError();
    } else {
      error = AwaitCompletion(exchange, failed);
      if (!failed) return Sent::Answered;
    }
  }
  return exchange.completion->connectedAnew ? Sent::Failed : Sent::FailedOnKept;
}

// Status 200, and the body's length read, or the sentence for the rest. For
// a range request (`from` > 0) also a 206 with exactly the rest of an object
// of `size` bytes; anything else throws RangeRefused.
void TakeResponse(HttpRequest& exchange, std::uint64_t from = 0, std::uint64_t size = 0) {
  DWORD status = 0;
  DWORD length = sizeof(status);
  const bool known = WinHttpQueryHeaders(exchange.request.get(), WINHTTP_QUERY_STATUS_CODE | WINHTTP_QUERY_FLAG_NUMBER,
                                         WINHTTP_HEADER_NAME_BY_INDEX, &status, &length, WINHTTP_NO_HEADER_INDEX);
  if (known && from > 0 && status == 206) {
    wchar_t text[80] = {};
    DWORD textSize = sizeof(text) - sizeof(wchar_t);
    const std::wstring expected = L"bytes " + std::to_wstring(from) + L"-" + std::to_wstring(size - 1) + L"/" +
                                  std::to_wstring(size);
    if (!WinHttpQueryHeaders(exchange.request.get(), WINHTTP_QUERY_CONTENT_RANGE, WINHTTP_HEADER_NAME_BY_INDEX, text,
                             &textSize, WINHTTP_NO_HEADER_INDEX) ||
        std::wstring_view(text, textSize / sizeof(wchar_t)) != expected) {
      throw RangeRefused{};
    }
    exchange.rest = true;
  } else if (!known || status != 200) {
    if (from > 0) throw RangeRefused{};
    Fail(L"The release server did not have what the launcher asked for.");
  }
  exchange.contentLength = ContentLength(exchange.request.get());
}

constexpr wchar_t kUnreachable[] = L"Can't reach the update server. Check your internet connection. Trying again...";

// The player reads kUnreachable for every failure to send or to receive,
// including a certificate WinHTTP refuses (Wine 8 gives the cause as the
// error: 12045 unknown authority, 12038 another host name, 12037 expired;
// Windows may give 12175 ERROR_WINHTTP_SECURE_FAILURE for each) and a
// redirect from https to http, which WinHTTP's default policy does not
// follow. The cause most often sits between the player and the server (a
// hotel's sign-in page, a filtering proxy, a wrong clock), and the next
// probe tries again. The trace keeps the code for a developer.
[[noreturn]] void FailUnreachable(DWORD error) {
  Trace(L"a request to the release server failed (WinHTTP)", error);
  Fail(kUnreachable);
}

}  // namespace

DWORD AwaitCompletion(HttpRequest& exchange, bool& failed) {
  RequestCompletion& completion = *exchange.completion;
  if (completion.inlined) {
    completion.inlined = false;
  } else {
    // WinHTTP's own time-outs bound every call; the slices only bound how
    // late the stop event is seen, also while the body keeps coming.
    constexpr DWORD kStopLookMs = 50;
    for (;;) {
      if (exchange.stop && GetTickCount64() >= completion.nextStopLook) {
        completion.nextStopLook = GetTickCount64() + kStopLookMs;
        if (WaitForSingleObject(exchange.stop, 0) == WAIT_OBJECT_0) throw TransferStopped{};
      }
      LONG seen = completion.taken;
      if (completion.completions.load(std::memory_order_acquire) != seen) break;
      WaitOnAddress(&completion.completions, &seen, sizeof(seen), kStopLookMs);
    }
    ++completion.taken;
  }
  failed = completion.failed;
  return completion.result;
}

std::uint8_t* CompletionBuffer(HttpRequest& exchange, DWORD count) {
  exchange.completion->buffer.resize(count);
  return exchange.completion->buffer.data();
}

// Wine keeps one pool of connections for the whole process, so a request
// sent from a session of its own may still go out on a connection kept from
// an earlier one (the probe's request of 15 seconds before, which a server
// may have closed meanwhile). Such a failure is tried again, as HttpSession
// does; on Windows a fresh session never finds a kept connection.
constexpr int kMostTriesOnKept = 16;

HttpRequest OpenGet(std::wstring_view url) {
  const CrackedUrl cracked = CrackUrl(url);
  for (int tries = 1;; ++tries) {
    // On any throw below, `exchange` is destroyed member by member in
    // reverse order, closing the request, then the connection, then the
    // session.
    HttpRequest exchange;
    exchange.session = OpenSession();
    exchange.connection = Connect(exchange.session.get(), cracked);
    DWORD error = 0;
    const Sent sent = SendGet(exchange.connection.get(), cracked, exchange, error);
    if (sent == Sent::Answered) {
      TakeResponse(exchange);
      return exchange;
    }
    if (sent != Sent::FailedOnKept || tries == kMostTriesOnKept) FailUnreachable(error);
  }
}

void HttpSession::Drop() {
  connection_.reset();
  session_.reset();
}

HttpRequest HttpSession::Get(std::wstring_view url) { return Send(url, 0, 0); }

HttpRequest HttpSession::GetRest(std::wstring_view url, std::uint64_t from, std::uint64_t size) {
  return Send(url, from, size);
}

HttpRequest HttpSession::Send(std::wstring_view url, std::uint64_t from, std::uint64_t size) {
  const CrackedUrl cracked = CrackUrl(url);
  const std::wstring headers = from > 0 ? L"Range: bytes=" + std::to_wstring(from) + L"-" : std::wstring();
  if (connection_ && (cracked.host != host_ || cracked.port != port_)) Drop();
  // A request that failed before any answer on a kept connection is sent
  // again from a fresh session, whose own connection Windows opens anew.
  // Wine keeps one pool of connections for the whole process, so there the
  // next try may again go out on a kept connection (one of another
  // session); each failure removes a dead one from the pool, and the tries
  // end at the first failure on a connection of the request's own.
  for (int tries = 1;; ++tries) {
    if (!session_) session_ = OpenSession();
    if (!connection_) {
      connection_ = Connect(session_.get(), cracked);
      host_ = cracked.host;
      port_ = cracked.port;
    }
    HttpRequest exchange;
    exchange.stop = stop_;
    Sent sent = Sent::Failed;
    DWORD error = 0;
    try {
      sent = SendGet(connection_.get(), cracked, exchange, error, headers);
    } catch (...) {
      // Stopped, or the request could not be made: the connection's state
      // is not known, so the next request starts afresh.
      exchange.request.reset();
      Drop();
      throw;
    }
    if (sent == Sent::Answered) {
      TakeResponse(exchange, from, size);
      return exchange;
    }
    // The request goes first, then the connection and the session it broke.
    exchange.request.reset();
    Drop();
    if (sent != Sent::FailedOnKept || tries == kMostTriesOnKept) FailUnreachable(error);
  }
}

}  // namespace launcher
