#include "transfer/http_request.h"

#include <optional>

#include "core/records.h"
#include "core/text.h"
#include "files/trace.h"

namespace launcher {
namespace {

constexpr DWORD kHostChars = 256;   // 255 and the terminator
constexpr DWORD kPathChars = 2048;  // 2047 and the terminator

constexpr int kResolveTimeoutMs = 8000;
constexpr int kConnectTimeoutMs = 8000;
constexpr int kSendTimeoutMs = 15000;
constexpr int kReceiveTimeoutMs = 30000;

// Wine keeps one pool of connections for the whole process, so a request
// sent from a fresh session may still go out on a connection kept from an
// earlier one (the probe's request of 15 seconds before, which a server may
// have closed meanwhile). Each failure removes a dead one from the pool, and
// the tries end at the first failure on a connection of the request's own.
// On Windows a fresh session never finds a kept connection.
constexpr int kMostTriesOnKept = 16;

constexpr wchar_t kUnreachable[] = L"Can't reach the update server. Check your internet connection. Trying again...";
constexpr wchar_t kNotThere[] = L"The release server did not have what the launcher asked for.";

[[noreturn]] void Fail(const wchar_t* message) { throw LauncherError{message}; }

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

WinHttpHandle OpenSession() {
  WinHttpHandle session(WinHttpOpen(L"StonewakeLauncher/1.0", WINHTTP_ACCESS_TYPE_DEFAULT_PROXY, WINHTTP_NO_PROXY_NAME,
                                    WINHTTP_NO_PROXY_BYPASS, WINHTTP_FLAG_ASYNC));
  if (!session || !WatchCompletions(session.get())) Fail(L"The launcher could not start a web connection.");
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

// Opens a GET of `cracked` on `connection`, ready to send.
HttpRequest::Parts OpenRequest(HINTERNET connection, const CrackedUrl& cracked, HANDLE stop) {
  HttpRequest::Parts parts;
  parts.stop = stop;
  parts.request.reset(WinHttpOpenRequest(connection, L"GET", cracked.path.c_str(), nullptr, WINHTTP_NO_REFERER,
                                         WINHTTP_DEFAULT_ACCEPT_TYPES, cracked.secure ? WINHTTP_FLAG_SECURE : 0));
  if (parts.request) parts.completion = TrackCompletions(parts.request.get());
  if (!parts.completion) Fail(L"The launcher could not make a request to the release server.");
  // Wine's WinHttpSetTimeouts leaves the wait for the response headers
  // unbounded, so a server that takes the request and stays silent would hold
  // a check for ever. Windows already applies the receive time-out there;
  // naming it again changes nothing on Windows.
  DWORD responseTimeout = kReceiveTimeoutMs;
  WinHttpSetOption(parts.request.get(), WINHTTP_OPTION_RECEIVE_RESPONSE_TIMEOUT, &responseTimeout,
                   sizeof(responseTimeout));
  return parts;
}

// The status code, when the platform can read it.
std::optional<DWORD> StatusOf(HINTERNET request) {
  DWORD status = 0;
  DWORD length = sizeof(status);
  if (!WinHttpQueryHeaders(request, WINHTTP_QUERY_STATUS_CODE | WINHTTP_QUERY_FLAG_NUMBER, WINHTTP_HEADER_NAME_BY_INDEX,
                           &status, &length, WINHTTP_NO_HEADER_INDEX)) {
    return std::nullopt;
  }
  return status;
}

// A text header's value, when present and of at most 79 characters.
std::optional<std::wstring> TextHeader(HINTERNET request, DWORD header) {
  wchar_t text[80] = {};
  DWORD size = sizeof(text) - sizeof(wchar_t);
  if (!WinHttpQueryHeaders(request, header, WINHTTP_HEADER_NAME_BY_INDEX, text, &size, WINHTTP_NO_HEADER_INDEX)) {
    return std::nullopt;
  }
  return std::wstring(text, size / sizeof(wchar_t));
}

// The Content-Length header as a 64-bit number, 0 when it is absent or not a
// plain decimal number. Read as text because WINHTTP_QUERY_FLAG_NUMBER yields
// only 32 bits (Wine even stops at 2^31 - 1) and Wine lacks
// WINHTTP_QUERY_FLAG_NUMBER64: a game file of several GiB would otherwise
// get a length that its download can never match.
std::uint64_t ContentLength(HINTERNET request) {
  const std::optional<std::wstring> text = TextHeader(request, WINHTTP_QUERY_CONTENT_LENGTH);
  return text ? ParseDecimal(*text).value_or(0) : 0;
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

HttpRequest OpenGet(std::wstring_view url, HANDLE stop) {
  HttpSession session(stop);
  HttpRequest request = session.Get(url);
  // The request takes the session over: closing it closes all three.
  request.parts_.connection = std::move(session.connection_);
  request.parts_.session = std::move(session.session_);
  return request;
}

void HttpSession::Drop() {
  connection_.reset();
  session_.reset();
}

HttpRequest HttpSession::Send(const CrackedUrl& cracked, const std::wstring& headers) {
  if (connection_ && (cracked.host != host_ || cracked.port != port_)) Drop();
  // A request that failed before any answer on a kept connection is sent
  // again from a fresh session, whose own connection Windows opens anew.
  // Wine keeps one pool of connections for the whole process, so there the
  // next try may again go out on a kept connection (one of another
  // session); kMostTriesOnKept bounds that.
  for (int tries = 1;; ++tries) {
    if (!session_) session_ = OpenSession();
    if (!connection_) {
      connection_ = Connect(session_.get(), cracked);
      host_ = cracked.host;
      port_ = cracked.port;
    }
    HttpRequest request;
    SendResult sent;
    try {
      request = HttpRequest(OpenRequest(connection_.get(), cracked, stop_));
      sent = SendAndReceive(request.handle(), request.completion(), stop_, headers);
    } catch (...) {
      // Stopped, or the request could not be made: the connection's state
      // is not known, so the next request starts afresh.
      request = HttpRequest{};
      Drop();
      throw;
    }
    if (sent.answered) {
      request.parts_.contentLength = ContentLength(request.handle());
      return request;
    }
    // The request goes first, then the connection and the session it broke.
    request = HttpRequest{};
    Drop();
    if (!sent.onKeptConnection || tries == kMostTriesOnKept) FailUnreachable(sent.error);
  }
}

HttpRequest HttpSession::Get(std::wstring_view url) {
  HttpRequest request = Send(CrackUrl(url), {});
  if (StatusOf(request.handle()) != 200u) Fail(kNotThere);
  return request;
}

HttpSession::RangeReply HttpSession::GetRange(std::wstring_view url, const ByteRange& range) {
  RangeReply reply;
  reply.request = Send(CrackUrl(url), RangeHeader(range));
  const std::optional<DWORD> status = StatusOf(reply.request.handle());
  reply.answer =
      status ? ClassifyRangeAnswer(range, *status, TextHeader(reply.request.handle(), WINHTTP_QUERY_CONTENT_RANGE))
             : RangeAnswer::Failed;
  // An answer that says nothing about the range fails as Get's would.
  if (reply.answer == RangeAnswer::Failed) Fail(kNotThere);
  if (reply.answer == RangeAnswer::Refused) reply.request = HttpRequest{};
  return reply;
}

HttpSession::RangeReply HttpSession::GetRest(std::wstring_view url, std::uint64_t from, std::uint64_t size) {
  return GetRange(url, ByteRange::RestFrom(from, size));
}

}  // namespace launcher
