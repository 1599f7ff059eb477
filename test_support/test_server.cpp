#include "test_support/test_server.h"

#include <winsock2.h>
#include <ws2tcpip.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <utility>

namespace launcher::testing {
namespace {

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

// The longest single wait. Each wait ends early on a network event or on
// the stop event; the operation is then simply tried again, so a missed
// notification costs at most this long.
constexpr DWORD kSliceMs = 200;

bool Stopping(HANDLE stop) { return WaitForSingleObject(stop, 0) == WAIT_OBJECT_0; }

// Sleeps for `duration`, or less when the server stops.
void Pause(std::chrono::milliseconds duration, HANDLE stop) {
  WaitForSingleObject(stop, static_cast<DWORD>(duration.count()));
}

// Waits for a network event of `s` (recorded in `event` by WSAEventSelect),
// the stop event, or `limitMs`; false when the server stops. Waiting on event
// objects rather than select() keeps clear of a wineserver 8 race in its
// poll requests that can kill the wineserver when a short select() times out
// just as an event arrives.
bool Wait(SOCKET s, WSAEVENT event, HANDLE stop, DWORD limitMs = kSliceMs) {
  const HANDLE handles[] = {stop, event};
  if (WaitForMultipleObjects(2, handles, FALSE, limitMs) == WAIT_OBJECT_0) return false;
  WSANETWORKEVENTS events;
  WSAEnumNetworkEvents(s, event, &events);  // resets `event`
  return true;
}

}  // namespace

// One accepted connection: its non-blocking socket and the event its
// network events set.
class Link {
 public:
  Link(SOCKET s, HANDLE stop) : socket_(s), event_(WSACreateEvent()), stop_(stop) {
    // Also replaces the association the socket inherited from the listener.
    WSAEventSelect(socket_, event_, FD_READ | FD_WRITE | FD_CLOSE);
  }
  ~Link() {
    if (socket_ != INVALID_SOCKET) closesocket(socket_);
    WSACloseEvent(event_);
  }
  Link(const Link&) = delete;
  Link& operator=(const Link&) = delete;

  // Sends `size` bytes and returns how many the socket took: fewer when the
  // peer is gone or the server stops.
  std::size_t SendAll(const char* data, std::size_t size) {
    std::size_t done = 0;
    while (done < size) {
      const int piece = static_cast<int>(std::min(size - done, kSendPiece));
      const int sent = send(socket_, data + done, piece, 0);
      if (sent > 0) {
        done += static_cast<std::size_t>(sent);
      } else if (sent == SOCKET_ERROR && WSAGetLastError() == WSAEWOULDBLOCK) {
        if (!Wait(socket_, event_, stop_)) break;
      } else {
        break;
      }
    }
    return done;
  }

  // Reads up to the blank line that ends a request's head and returns the
  // head without it. Empty when the client goes away first, sends an
  // oversized head, stays silent for `silence` (when given), or the server
  // stops.
  std::string ReadHead(std::optional<std::chrono::steady_clock::duration> silence = std::nullopt) {
    std::string head;
    char buffer[4096];
    const auto deadline = std::chrono::steady_clock::now() + silence.value_or(std::chrono::hours(1));
    while (head.find("\r\n\r\n") == std::string::npos) {
      if (head.size() > kMaxHeadBytes) return {};
      const int n = recv(socket_, buffer, sizeof(buffer), 0);
      if (n > 0) {
        head.append(buffer, static_cast<std::size_t>(n));
      } else if (n == SOCKET_ERROR && WSAGetLastError() == WSAEWOULDBLOCK) {
        if (silence && head.empty() && std::chrono::steady_clock::now() >= deadline) return {};
        if (!Wait(socket_, event_, stop_)) return {};
      } else {
        return {};
      }
    }
    return head.substr(0, head.find("\r\n\r\n"));
  }

  // Half-closes, then waits for the client to close its side: closing a
  // socket with unread incoming bytes would reset the connection instead.
  void CloseInOrder() {
    shutdown(socket_, SD_SEND);
    const auto deadline = std::chrono::steady_clock::now() + kLinger;
    char buffer[4096];
    for (;;) {
      const int n = recv(socket_, buffer, sizeof(buffer), 0);
      if (n > 0) continue;
      if (n == 0 || WSAGetLastError() != WSAEWOULDBLOCK) break;
      const auto left =
          std::chrono::duration_cast<std::chrono::milliseconds>(deadline - std::chrono::steady_clock::now());
      if (left.count() <= 0) break;
      if (!Wait(socket_, event_, stop_, std::min<DWORD>(kSliceMs, static_cast<DWORD>(left.count())))) break;
    }
    closesocket(std::exchange(socket_, INVALID_SOCKET));
  }

  // Drops the connection: a zero linger time makes closing send a reset.
  void Reset() {
    linger option{};
    option.l_onoff = 1;
    option.l_linger = 0;
    setsockopt(socket_, SOL_SOCKET, SO_LINGER, reinterpret_cast<const char*>(&option), sizeof(option));
    closesocket(std::exchange(socket_, INVALID_SOCKET));
  }

 private:
  SOCKET socket_;
  WSAEVENT event_;
  HANDLE stop_;
};

namespace {

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
    case 416:
      return "Range Not Satisfiable";
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

// What one "Range" header asks of a body of `size` bytes.
struct AskedRange {
  enum { Whole, Part, Unsatisfiable } kind = Whole;
  std::uint64_t first = 0;
  std::uint64_t last = 0;  // inclusive
};

// Digits of a range bound; false when there are none or too many for 64 bits.
bool ParseBound(std::string_view text, std::uint64_t& value) {
  if (text.empty() || text.size() > 19) return false;
  value = 0;
  for (const char c : text) {
    if (c < '0' || c > '9') return false;
    value = value * 10 + static_cast<std::uint64_t>(c - '0');
  }
  return true;
}

// One range in the forms "bytes=a-b", "bytes=a-" and "bytes=-n". What does
// not parse, or names several ranges (a static server would answer those
// with multipart/byteranges), is answered whole, as a server may do with a
// Range header it does not take.
AskedRange AskRange(std::string_view header, std::uint64_t size) {
  AskedRange asked;
  constexpr std::string_view kUnit = "bytes=";
  if (header.size() < kUnit.size() || !SameLetters(header.substr(0, kUnit.size()), kUnit)) return asked;
  const std::string_view spec = Trim(header.substr(kUnit.size()));
  const std::size_t dash = spec.find('-');
  if (dash == std::string_view::npos || spec.find(',') != std::string_view::npos) return asked;
  const std::string_view from = spec.substr(0, dash);
  const std::string_view to = spec.substr(dash + 1);
  std::uint64_t a = 0;
  std::uint64_t b = 0;
  if (from.empty()) {
    if (!ParseBound(to, b)) return asked;
    if (b == 0 || size == 0) {
      asked.kind = AskedRange::Unsatisfiable;
      return asked;
    }
    asked.kind = AskedRange::Part;
    asked.first = size - std::min(b, size);
    asked.last = size - 1;
    return asked;
  }
  if (!ParseBound(from, a) || (!to.empty() && (!ParseBound(to, b) || b < a))) return asked;
  if (a >= size) {
    asked.kind = AskedRange::Unsatisfiable;
    return asked;
  }
  asked.kind = AskedRange::Part;
  asked.first = a;
  asked.last = to.empty() ? size - 1 : std::min(b, size - 1);
  return asked;
}

// Sends body bytes [from, to) of `response` (its body, then its filler) and
// returns the offset reached: `to` unless the peer went away.
std::uint64_t SendBody(Link& link, const TestResponse& response, std::uint64_t from, std::uint64_t to,
                       const std::string& fillerPattern) {
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
    const std::size_t sent = link.SendAll(data, piece);
    from += sent;
    if (sent < piece) break;
  }
  return from;
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
  stop_ = CreateEventW(nullptr, TRUE, FALSE, nullptr);
  const SOCKET listener = BindLoopback();
  listener_ = listener;
  if (!stop_ || listener == INVALID_SOCKET || listen(listener, SOMAXCONN) != 0) {
    ADD_FAILURE() << "test server cannot listen on 127.0.0.1";
    return;
  }
  port_ = LocalPort(listener);
  acceptThread_ = std::thread([this] { AcceptLoop(); });
}

TestServer::~TestServer() {
  if (stop_) SetEvent(stop_);
  if (acceptThread_.joinable()) acceptThread_.join();
  for (Connection& connection : connections_) connection.thread.join();
  if (AsSocket(listener_) != INVALID_SOCKET) closesocket(AsSocket(listener_));
  if (stop_) CloseHandle(stop_);
  WSACleanup();
}

std::wstring TestServer::baseUrl() const { return LoopbackUrl(port_); }

std::wstring TestServer::Url(std::string_view path) const { return baseUrl() + std::wstring(path.begin(), path.end()); }

void TestServer::SetReuse(Reuse reuse) {
  std::lock_guard lock(mutex_);
  reuse_ = reuse;
  dropped_ = false;
}

void TestServer::SetForRange(const std::string& path, TestResponse response) {
  auto shared = std::make_shared<const TestResponse>(std::move(response));
  std::lock_guard lock(mutex_);
  rangeResponses_[path] = std::move(shared);
}

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

int TestServer::PeakAnswering() const {
  std::lock_guard lock(mutex_);
  return peakAnswering_;
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
  const WSAEVENT acceptable = WSACreateEvent();
  WSAEventSelect(listener, acceptable, FD_ACCEPT);  // also makes accept() non-blocking
  for (;;) {
    ReapFinished();
    const SOCKET client = accept(listener, nullptr, nullptr);
    if (client == INVALID_SOCKET) {
      if (!Wait(listener, acceptable, stop_)) break;
      continue;
    }
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
  WSAEventSelect(listener, nullptr, 0);
  WSACloseEvent(acceptable);
}

void TestServer::Serve(std::uintptr_t clientValue) {
  Link link(AsSocket(clientValue), stop_);
  std::string head = link.ReadHead();
  for (bool first = true; !head.empty(); first = false) {
    // The mode of the moment, also for connections kept from before.
    Reuse reuse;
    bool drop = false;
    {
      std::lock_guard lock(mutex_);
      reuse = reuse_;
      if (!first && (reuse == Reuse::CloseOnce || reuse == Reuse::ResetOnce)) {
        drop = !std::exchange(dropped_, true);
        if (drop) requests_.push_back(ParseHead(head));
      }
    }
    if (drop) {
      if (reuse == Reuse::ResetOnce) {
        link.Reset();
      } else {
        link.CloseInOrder();
      }
      return;
    }
    if (!Answer(link, head, reuse != Reuse::Close)) return;
    head = link.ReadHead(kLinger);
  }
}

// Answers one request; false when the connection is over (closed, reset,
// or the server stops), true when it is kept for the next request.
bool TestServer::Answer(Link& link, const std::string& head, bool keep) {
  std::size_t index = 0;
  std::shared_ptr<const TestResponse> response;
  {
    std::lock_guard lock(mutex_);
    RecordedRequest request = ParseHead(head);
    const auto found = responses_.find(request.path);
    if (found != responses_.end()) response = found->second;
    const auto forRange = rangeResponses_.find(request.path);
    if (forRange != rangeResponses_.end() && request.Header("Range")) response = forRange->second;
    index = requests_.size();
    requests_.push_back(std::move(request));
    peakAnswering_ = std::max(peakAnswering_, ++answering_);
  }
  struct Answered {
    TestServer& server;
    ~Answered() {
      std::lock_guard lock(server.mutex_);
      --server.answering_;
    }
  };
  std::optional<Answered> answered(std::in_place, *this);
  if (!response) response = std::make_shared<const TestResponse>(TestResponse::Status(404));

  // The part of the body this answer carries: [first, first + size).
  std::uint64_t first = 0;
  std::uint64_t size = response->body.size() + response->fillerBytes;
  int status = response->status;
  std::vector<std::string> headers = response->headers;
  const std::optional<std::string> rangeHeader = ParseHead(head).Header("Range");
  if (rangeHeader && response->answersRanges && status == 200 && response->length == TestResponse::Length::Exact) {
    const AskedRange asked = AskRange(*rangeHeader, size);
    if (asked.kind == AskedRange::Unsatisfiable) {
      TestResponse refused = TestResponse::Status(416);
      refused.headers = {"Content-Range: bytes */" + std::to_string(size)};
      response = std::make_shared<const TestResponse>(std::move(refused));
      size = response->body.size();
      status = 416;
      headers = response->headers;
    } else if (asked.kind == AskedRange::Part) {
      headers.push_back("Content-Range: bytes " + std::to_string(asked.first) + "-" + std::to_string(asked.last) + "/" +
                        std::to_string(size));
      first = asked.first;
      size = asked.last - asked.first + 1;
      status = 206;
    }
  }

  Pause(response->stallBeforeHeaders, stop_);
  if (Stopping(stop_)) return false;  // no answer at all

  // Only an answer that ends in order can leave the connection open.
  keep = keep && !response->closeAfter && !response->resetAfter && response->length == TestResponse::Length::Exact;
  std::string out = "HTTP/1.1 " + std::to_string(status) + " " + Reason(status) + "\r\n";
  if (response->length == TestResponse::Length::Exact) {
    out += "Content-Length: " + std::to_string(size) + "\r\n";
  } else if (response->length == TestResponse::Length::Stated) {
    out += "Content-Length: " + std::to_string(response->statedLength) + "\r\n";
  }
  for (const std::string& line : headers) out += line + "\r\n";
  out += keep ? "\r\n" : "Connection: close\r\n\r\n";

  // Counted from the first byte this answer carries.
  std::uint64_t limit = size;
  if (response->closeAfter) limit = std::min(limit, *response->closeAfter);
  if (response->resetAfter) limit = std::min(limit, *response->resetAfter);

  std::string fillerPattern;
  if (response->fillerBytes > 0) {
    fillerPattern.resize(kSendPiece + kFillerPeriod);
    for (std::size_t i = 0; i < fillerPattern.size(); ++i) fillerPattern[i] = FillerByte(i);
  }

  std::uint64_t sent = 0;
  bool ok = link.SendAll(out.data(), out.size()) == out.size();
  if (ok && response->stallInBody.count() > 0 && response->stallAt <= limit) {
    sent = SendBody(link, *response, first, first + response->stallAt, fillerPattern) - first;
    ok = sent == response->stallAt;
    if (ok) Pause(response->stallInBody, stop_);
  }
  if (ok) sent = SendBody(link, *response, first + sent, first + limit, fillerPattern) - first;
  {
    std::lock_guard lock(mutex_);
    requests_[index].bodyBytesSent = sent;
  }
  answered.reset();

  if (keep && sent == limit && !Stopping(stop_)) return true;
  if (response->resetAfter && *response->resetAfter == limit) {
    link.Reset();
  } else {
    link.CloseInOrder();
  }
  return false;
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
