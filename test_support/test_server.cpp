#include "test_support/test_server.h"

#include <winsock2.h>
#include <ws2tcpip.h>

#include <gtest/gtest.h>

#include <algorithm>

namespace launcher::testing {
namespace {

// How often a waiting server thread looks at the stop flag.
constexpr auto kPoll = std::chrono::milliseconds(20);
// After its answer the server waits this long for the client to close, so
// that closing never resets a connection whose last bytes are still unread.
constexpr auto kLinger = std::chrono::seconds(10);
constexpr std::size_t kMaxHeadBytes = 64 * 1024;
// Large sends keep several-MiB bodies fast; the socket takes what fits.
constexpr std::size_t kSendPiece = 1 << 20;
constexpr std::size_t kFillerPeriod = 26;

SOCKET AsSocket(std::uintptr_t s) { return static_cast<SOCKET>(s); }

void StartWinsock() {
  WSADATA data;
  if (WSAStartup(MAKEWORD(2, 2), &data) != 0) ADD_FAILURE() << "WSAStartup failed";
}

std::uint16_t LocalPort(SOCKET s) {
  sockaddr_in address{};
  int size = sizeof(address);
  if (getsockname(s, reinterpret_cast<sockaddr*>(&address), &size) != 0) return 0;
  return ntohs(address.sin_port);
}

SOCKET BindLoopback() {
  const SOCKET s = socket(AF_INET, SOCK_STREAM, IPPROTO_TCP);
  if (s == INVALID_SOCKET) return s;
  sockaddr_in address{};
  address.sin_family = AF_INET;
  address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  address.sin_port = 0;
  if (bind(s, reinterpret_cast<sockaddr*>(&address), sizeof(address)) != 0) {
    closesocket(s);
    return INVALID_SOCKET;
  }
  return s;
}

std::wstring LoopbackUrl(std::uint16_t port) { return L"http://127.0.0.1:" + std::to_wstring(port); }

enum class Readiness { Ready, NotYet, Stopped, Failed };

// One short wait for `s` to become readable (or writable).
Readiness Poll(SOCKET s, bool forWriting, const std::atomic<bool>& stopping) {
  if (stopping) return Readiness::Stopped;
  fd_set set;
  FD_ZERO(&set);
  FD_SET(s, &set);
  fd_set errors = set;
  timeval timeout{0, static_cast<long>(std::chrono::microseconds(kPoll).count())};
  const int n = select(0, forWriting ? nullptr : &set, forWriting ? &set : nullptr, &errors, &timeout);
  if (n == SOCKET_ERROR) return Readiness::Failed;
  if (n == 0) return Readiness::NotYet;
  return Readiness::Ready;
}

// Waits until `s` is ready, the server stops, or `limit` passes.
bool WaitFor(SOCKET s, bool forWriting, const std::atomic<bool>& stopping,
             std::chrono::steady_clock::duration limit = std::chrono::hours(1)) {
  const auto deadline = std::chrono::steady_clock::now() + limit;
  for (;;) {
    switch (Poll(s, forWriting, stopping)) {
      case Readiness::Ready:
        return true;
      case Readiness::Stopped:
      case Readiness::Failed:
        return false;
      case Readiness::NotYet:
        break;
    }
    if (std::chrono::steady_clock::now() >= deadline) return false;
  }
}

// Sleeps for `duration`, or less when the server stops.
void Pause(std::chrono::milliseconds duration, const std::atomic<bool>& stopping) {
  const auto deadline = std::chrono::steady_clock::now() + duration;
  while (!stopping && std::chrono::steady_clock::now() < deadline) {
    std::this_thread::sleep_for(
        std::min<std::chrono::steady_clock::duration>(kPoll, deadline - std::chrono::steady_clock::now()));
  }
}

// Sends `size` bytes on a non-blocking socket and returns how many the
// socket took: fewer when the peer is gone or the server stops.
std::size_t SendAll(SOCKET s, const char* data, std::size_t size, const std::atomic<bool>& stopping) {
  std::size_t done = 0;
  while (done < size) {
    const int piece = static_cast<int>(std::min(size - done, kSendPiece));
    const int sent = send(s, data + done, piece, 0);
    if (sent > 0) {
      done += static_cast<std::size_t>(sent);
    } else if (sent == SOCKET_ERROR && WSAGetLastError() == WSAEWOULDBLOCK) {
      if (!WaitFor(s, true, stopping)) break;
    } else {
      break;
    }
  }
  return done;
}

const char* Reason(int status) {
  switch (status) {
    case 200:
      return "OK";
    case 204:
      return "No Content";
    case 206:
      return "Partial Content";
    case 301:
      return "Moved Permanently";
    case 304:
      return "Not Modified";
    case 400:
      return "Bad Request";
    case 403:
      return "Forbidden";
    case 404:
      return "Not Found";
    case 500:
      return "Internal Server Error";
    case 503:
      return "Service Unavailable";
    default:
      return "Other";
  }
}

bool SameLetters(std::string_view a, std::string_view b) {
  return std::equal(a.begin(), a.end(), b.begin(), b.end(), [](char x, char y) {
    return std::tolower(static_cast<unsigned char>(x)) == std::tolower(static_cast<unsigned char>(y));
  });
}

std::string_view Trim(std::string_view text) {
  while (!text.empty() && (text.front() == ' ' || text.front() == '\t')) text.remove_prefix(1);
  while (!text.empty() && (text.back() == ' ' || text.back() == '\t')) text.remove_suffix(1);
  return text;
}

// Reads up to the blank line that ends a request's head. Empty when the
// client goes away first or sends an oversized head.
std::string ReadHead(SOCKET s, const std::atomic<bool>& stopping) {
  std::string head;
  char buffer[4096];
  while (head.find("\r\n\r\n") == std::string::npos) {
    if (head.size() > kMaxHeadBytes) return {};
    const int n = recv(s, buffer, sizeof(buffer), 0);
    if (n > 0) {
      head.append(buffer, static_cast<std::size_t>(n));
    } else if (n == SOCKET_ERROR && WSAGetLastError() == WSAEWOULDBLOCK) {
      if (!WaitFor(s, false, stopping)) return {};
    } else {
      return {};
    }
  }
  return head.substr(0, head.find("\r\n\r\n"));
}

RecordedRequest ParseHead(std::string_view head) {
  RecordedRequest request;
  std::size_t lineEnd = head.find("\r\n");
  const std::string_view requestLine = head.substr(0, lineEnd);
  const std::size_t firstSpace = requestLine.find(' ');
  const std::size_t secondSpace = requestLine.find(' ', firstSpace + 1);
  request.method = requestLine.substr(0, firstSpace);
  if (firstSpace != std::string_view::npos) {
    request.path = requestLine.substr(firstSpace + 1, secondSpace - firstSpace - 1);
  }
  while (lineEnd != std::string_view::npos) {
    const std::size_t start = lineEnd + 2;
    lineEnd = head.find("\r\n", start);
    request.headers.emplace_back(head.substr(start, lineEnd - start));
  }
  return request;
}

// Sends body bytes [from, to) of `response` (its body, then its filler) and
// returns the offset reached: `to` unless the peer went away.
std::uint64_t SendBody(SOCKET s, const TestResponse& response, std::uint64_t from, std::uint64_t to,
                       const std::string& fillerPattern, const std::atomic<bool>& stopping) {
  const std::uint64_t bodySize = response.body.size();
  while (from < to) {
    const char* data;
    std::size_t piece;
    if (from < bodySize) {
      data = response.body.data() + from;
      piece = static_cast<std::size_t>(std::min(to, bodySize) - from);
    } else {
      data = fillerPattern.data() + (from - bodySize) % kFillerPeriod;
      piece = static_cast<std::size_t>(std::min<std::uint64_t>(to - from, kSendPiece));
    }
    const std::size_t sent = SendAll(s, data, piece, stopping);
    from += sent;
    if (sent < piece) break;
  }
  return from;
}

// Half-closes, then waits for the client to close its side: closing a socket
// with unread incoming bytes would reset the connection instead.
void CloseInOrder(SOCKET s, const std::atomic<bool>& stopping) {
  shutdown(s, SD_SEND);
  const auto deadline = std::chrono::steady_clock::now() + kLinger;
  char buffer[4096];
  while (std::chrono::steady_clock::now() < deadline) {
    const int n = recv(s, buffer, sizeof(buffer), 0);
    if (n > 0) continue;
    if (n == SOCKET_ERROR && WSAGetLastError() == WSAEWOULDBLOCK) {
      if (!WaitFor(s, false, stopping, deadline - std::chrono::steady_clock::now())) break;
      continue;
    }
    break;
  }
  closesocket(s);
}

void Reset(SOCKET s) {
  linger option{};
  option.l_onoff = 1;
  option.l_linger = 0;
  setsockopt(s, SOL_SOCKET, SO_LINGER, reinterpret_cast<const char*>(&option), sizeof(option));
  closesocket(s);
}

}  // namespace

TestResponse TestResponse::Ok(std::string body) {
  TestResponse response;
  response.body = std::move(body);
  return response;
}

TestResponse TestResponse::Status(int status) {
  TestResponse response;
  response.status = status;
  response.body = std::to_string(status) + " " + Reason(status) + "\n";
  return response;
}

char FillerByte(std::uint64_t offset) { return static_cast<char>('a' + offset % kFillerPeriod); }

std::optional<std::string> RecordedRequest::Header(std::string_view name) const {
  for (const std::string& line : headers) {
    const std::size_t colon = line.find(':');
    if (colon != std::string::npos && SameLetters(Trim(std::string_view(line).substr(0, colon)), name)) {
      return std::string(Trim(std::string_view(line).substr(colon + 1)));
    }
  }
  return std::nullopt;
}

TestServer::TestServer() {
  StartWinsock();
  const SOCKET listener = BindLoopback();
  listener_ = listener;
  if (listener == INVALID_SOCKET || listen(listener, SOMAXCONN) != 0) {
    ADD_FAILURE() << "test server cannot listen on 127.0.0.1";
    return;
  }
  u_long nonBlocking = 1;
  ioctlsocket(listener, FIONBIO, &nonBlocking);
  port_ = LocalPort(listener);
  acceptThread_ = std::thread([this] { AcceptLoop(); });
}

TestServer::~TestServer() {
  stopping_ = true;
  if (acceptThread_.joinable()) acceptThread_.join();
  for (Connection& connection : connections_) connection.thread.join();
  if (AsSocket(listener_) != INVALID_SOCKET) closesocket(AsSocket(listener_));
  WSACleanup();
}

std::wstring TestServer::baseUrl() const { return LoopbackUrl(port_); }

std::wstring TestServer::Url(std::string_view path) const { return baseUrl() + std::wstring(path.begin(), path.end()); }

void TestServer::Set(const std::string& path, TestResponse response) {
  auto shared = std::make_shared<const TestResponse>(std::move(response));
  std::lock_guard lock(mutex_);
  responses_[path] = std::move(shared);
}

std::vector<RecordedRequest> TestServer::Requests() const {
  std::lock_guard lock(mutex_);
  return requests_;
}

std::size_t TestServer::RequestCount(std::string_view path) const {
  std::lock_guard lock(mutex_);
  return static_cast<std::size_t>(
      std::count_if(requests_.begin(), requests_.end(), [&](const RecordedRequest& r) { return r.path == path; }));
}

bool TestServer::WaitUntilIdle(std::chrono::milliseconds limit) {
  std::unique_lock lock(mutex_);
  return idle_.wait_for(lock, limit, [this] { return openConnections_ == 0; });
}

void TestServer::ReapFinished() {
  for (auto it = connections_.begin(); it != connections_.end();) {
    if (it->done) {
      it->thread.join();
      it = connections_.erase(it);
    } else {
      ++it;
    }
  }
}

void TestServer::AcceptLoop() {
  const SOCKET listener = AsSocket(listener_);
  while (!stopping_) {
    ReapFinished();
    if (Poll(listener, false, stopping_) != Readiness::Ready) continue;
    const SOCKET client = accept(listener, nullptr, nullptr);
    if (client == INVALID_SOCKET) continue;
    u_long nonBlocking = 1;
    ioctlsocket(client, FIONBIO, &nonBlocking);
    {
      std::lock_guard lock(mutex_);
      ++openConnections_;
    }
    Connection& connection = connections_.emplace_back();
    connection.thread = std::thread([this, client, &connection] {
      Serve(client);
      {
        std::lock_guard lock(mutex_);
        --openConnections_;
      }
      idle_.notify_all();
      connection.done = true;
    });
  }
}

void TestServer::Serve(std::uintptr_t clientValue) {
  const SOCKET client = AsSocket(clientValue);
  const std::string head = ReadHead(client, stopping_);
  if (head.empty()) {
    closesocket(client);
    return;
  }

  std::size_t index = 0;
  std::shared_ptr<const TestResponse> response;
  {
    std::lock_guard lock(mutex_);
    RecordedRequest request = ParseHead(head);
    const auto found = responses_.find(request.path);
    if (found != responses_.end()) response = found->second;
    index = requests_.size();
    requests_.push_back(std::move(request));
  }
  if (!response) response = std::make_shared<const TestResponse>(TestResponse::Status(404));

  Pause(response->stallBeforeHeaders, stopping_);
  if (stopping_) {
    closesocket(client);
    return;
  }

  const std::uint64_t total = response->body.size() + response->fillerBytes;
  std::string out = "HTTP/1.1 " + std::to_string(response->status) + " " + Reason(response->status) + "\r\n";
  if (response->length == TestResponse::Length::Exact) {
    out += "Content-Length: " + std::to_string(total) + "\r\n";
  } else if (response->length == TestResponse::Length::Stated) {
    out += "Content-Length: " + std::to_string(response->statedLength) + "\r\n";
  }
  for (const std::string& line : response->headers) out += line + "\r\n";
  out += "Connection: close\r\n\r\n";

  std::uint64_t limit = total;
  if (response->closeAfter) limit = std::min(limit, *response->closeAfter);
  if (response->resetAfter) limit = std::min(limit, *response->resetAfter);

  std::string fillerPattern;
  if (response->fillerBytes > 0) {
    fillerPattern.resize(kSendPiece + kFillerPeriod);
    for (std::size_t i = 0; i < fillerPattern.size(); ++i) fillerPattern[i] = FillerByte(i);
  }

  std::uint64_t sent = 0;
  bool ok = SendAll(client, out.data(), out.size(), stopping_) == out.size();
  if (ok && response->stallInBody.count() > 0 && response->stallAt <= limit) {
    sent = SendBody(client, *response, 0, response->stallAt, fillerPattern, stopping_);
    ok = sent == response->stallAt;
    if (ok) Pause(response->stallInBody, stopping_);
  }
  if (ok) sent = SendBody(client, *response, sent, limit, fillerPattern, stopping_);
  {
    std::lock_guard lock(mutex_);
    requests_[index].bodyBytesSent = sent;
  }

  if (response->resetAfter && *response->resetAfter == limit) {
    Reset(client);
  } else {
    CloseInOrder(client, stopping_);
  }
}

RefusingPort::RefusingPort() {
  StartWinsock();
  const SOCKET s = BindLoopback();
  socket_ = s;
  if (s == INVALID_SOCKET) {
    ADD_FAILURE() << "cannot bind a port on 127.0.0.1";
    return;
  }
  port_ = LocalPort(s);
}

RefusingPort::~RefusingPort() {
  if (AsSocket(socket_) != INVALID_SOCKET) closesocket(AsSocket(socket_));
  WSACleanup();
}

std::wstring RefusingPort::baseUrl() const { return LoopbackUrl(port_); }

}  // namespace launcher::testing
