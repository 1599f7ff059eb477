#include "transfer/http_request.h"

#include <string>

#include "core/records.h"
#include "core/text.h"

namespace launcher {
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

WinHttpHandle OpenSession() {
  WinHttpHandle session(WinHttpOpen(L"StonewakeLauncher/1.0", WINHTTP_ACCESS_TYPE_DEFAULT_PROXY, WINHTTP_NO_PROXY_NAME,
                                    WINHTTP_NO_PROXY_BYPASS, 0));
  if (!session) Fail(L"The launcher could not start a web connection.");
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

// Opens and sends the request on `connection`. Returns false when it failed
// on the way (no connection, no response); throws for the rest.
bool SendGet(HINTERNET connection, const CrackedUrl& cracked, HttpRequest& exchange) {
  exchange.request.reset(WinHttpOpenRequest(connection, L"GET", cracked.path.c_str(), nullptr, WINHTTP_NO_REFERER,
                                            WINHTTP_DEFAULT_ACCEPT_TYPES, cracked.secure ? WINHTTP_FLAG_SECURE : 0));
  if (!exchange.request) Fail(L"The launcher could not make a request to the release server.");
  // Wine's WinHttpSetTimeouts leaves the wait for the response headers
  // unbounded, so a server that takes the request and stays silent would hold
  // a check for ever. Windows already applies the receive time-out there;
  // naming it again changes nothing on Windows.
  DWORD responseTimeout = kReceiveTimeoutMs;
  WinHttpSetOption(exchange.request.get(), WINHTTP_OPTION_RECEIVE_RESPONSE_TIMEOUT, &responseTimeout,
                   sizeof(responseTimeout));
  return WinHttpSendRequest(exchange.request.get(), WINHTTP_NO_ADDITIONAL_HEADERS, 0, WINHTTP_NO_REQUEST_DATA, 0, 0,
                            0) &&
         WinHttpReceiveResponse(exchange.request.get(), nullptr);
}

// Status 200, and the body's length read, or the sentence for the rest.
void TakeResponse(HttpRequest& exchange) {
  DWORD status = 0;
  DWORD size = sizeof(status);
  if (!WinHttpQueryHeaders(exchange.request.get(), WINHTTP_QUERY_STATUS_CODE | WINHTTP_QUERY_FLAG_NUMBER,
                           WINHTTP_HEADER_NAME_BY_INDEX, &status, &size, WINHTTP_NO_HEADER_INDEX) ||
      status != 200) {
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
// probe tries again. A trace for a developer keeps the code.
[[noreturn]] void FailUnreachable() {
  const DWORD error = GetLastError();
  const std::wstring trace =
      L"Stonewake: a request to the release server failed, WinHTTP error " + std::to_wstring(error) + L"\n";
  OutputDebugStringW(trace.c_str());
  Fail(kUnreachable);
}

}  // namespace

HttpRequest OpenGet(std::wstring_view url) {
  const CrackedUrl cracked = CrackUrl(url);
  // On any throw below, `exchange` is destroyed member by member in reverse
  // order, closing the request, then the connection, then the session.
  HttpRequest exchange;
  exchange.session = OpenSession();
  exchange.connection = Connect(exchange.session.get(), cracked);
  if (!SendGet(exchange.connection.get(), cracked, exchange)) FailUnreachable();
  TakeResponse(exchange);
  return exchange;
}

HttpRequest HttpSession::Get(std::wstring_view url) {
  const CrackedUrl cracked = CrackUrl(url);
  if (!session_) session_ = OpenSession();
  if (!connection_ || cracked.host != host_ || cracked.port != port_) {
    connection_.reset();
    connection_ = Connect(session_.get(), cracked);
    host_ = cracked.host;
    port_ = cracked.port;
  }
  HttpRequest exchange;
  if (!SendGet(connection_.get(), cracked, exchange)) {
    // Read before any handle is closed: closing may change it.
    const DWORD error = GetLastError();
    // The request goes first, then the connection and the session it broke.
    exchange.request.reset();
    connection_.reset();
    session_.reset();
    SetLastError(error);
    FailUnreachable();
  }
  TakeResponse(exchange);
  return exchange;
}

}  // namespace launcher
