// An HTTP/1.1 release server for tests, running inside the test process on
// 127.0.0.1 at a port of its own, whose answer a test sets per path: status,
// body, Content-Length right, missing or wrong, a body cut off or a
// connection dropped after some bytes, a stall, a body far larger than any
// client wants. A Range request gets its part of the body, as from a static
// server. Unknown paths answer 404. Every request is recorded.
//
// By default each connection gets one answer and is then closed
// ("Connection: close"), so a fault never leaks into the next request; a
// test can have connections kept instead, and have a kept connection fail
// the way a server or a middlebox that dropped it makes it fail.
#pragma once

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <list>
#include <map>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <string_view>
#include <thread>
#include <vector>

namespace launcher::testing {

// What the server sends for one path.
struct TestResponse {
  enum class Length {
    Exact,   // Content-Length: the bytes the body is meant to have
    Absent,  // no Content-Length: the body ends when the connection closes
    Stated,  // Content-Length: statedLength, whatever is sent
  };

  int status = 200;
  std::string body;
  // Bytes appended after `body` without being held in memory (a repeating
  // pattern), for bodies of any size.
  std::uint64_t fillerBytes = 0;
  Length length = Length::Exact;
  std::uint64_t statedLength = 0;

  // Body cut off: after this many body bytes the server closes the
  // connection in order, as if the body were complete.
  std::optional<std::uint64_t> closeAfter;
  // Connection dropped: after this many body bytes the server resets the
  // connection.
  std::optional<std::uint64_t> resetAfter;

  // Waits before the status line, and within the body after stallAt bytes.
  // The server's destructor cuts a stall short.
  std::chrono::milliseconds stallBeforeHeaders{0};
  std::uint64_t stallAt = 0;
  std::chrono::milliseconds stallInBody{0};

  // Further header lines, without line ends.
  std::vector<std::string> headers;

  // A 200 of exact length answers a request with one Range as a static
  // server does: a 206 with that part of the body and its Content-Range, or
  // a 416 ("Content-Range: bytes */<size>") when it starts past the end. The
  // faults above then count from the part's first byte. A Range header that
  // does not parse or names several ranges gets the whole body. False: the
  // answer is sent as set, whatever the request asks for.
  bool answersRanges = true;

  // A 200 answer with `body` and its exact Content-Length.
  static TestResponse Ok(std::string body);
  // An answer with `status` and a short body.
  static TestResponse Status(int status);
};

// The byte at `offset` of a filler body.
char FillerByte(std::uint64_t offset);

struct RecordedRequest {
  std::string method;
  std::string path;                  // the request target as sent
  std::vector<std::string> headers;  // header lines as sent, without line ends
  // Body bytes the socket took (sent or buffered); final once the server is
  // idle again.
  std::uint64_t bodyBytesSent = 0;

  // The value of the first header with this name (any letter case), with
  // the blanks around it removed.
  std::optional<std::string> Header(std::string_view name) const;
};

class Link;

// What the server does with a connection after an orderly answer.
enum class Reuse {
  Close,  // "Connection: close", then closed (the default)
  Keep,   // kept for the next request, for up to 10 s of silence
  // Kept, but the first request the server gets on a kept connection is
  // read and then met without a word, as when a middlebox dropped that
  // connection; every later one is answered:
  CloseOnce,  // closed in order
  ResetOnce,  // reset
};

class TestServer {
 public:
  // Listens on 127.0.0.1 at a port the system chooses.
  TestServer();
  // Stops accepting, ends every connection (stalls included) and joins the
  // server's threads.
  ~TestServer();
  TestServer(const TestServer&) = delete;
  TestServer& operator=(const TestServer&) = delete;

  std::uint16_t port() const { return port_; }
  // "http://127.0.0.1:<port>", without a trailing slash.
  std::wstring baseUrl() const;
  // baseUrl() + path.
  std::wstring Url(std::string_view path) const;

  // Sets the answer for requests whose target is exactly `path`.
  void Set(const std::string& path, TestResponse response);
  // Sets the answer for requests to `path` that carry a Range header; those
  // get Set's answer (cut to their range) while none is set.
  void SetForRange(const std::string& path, TestResponse response);

  // From the next request on, on every connection (those kept too).
  void SetReuse(Reuse reuse);

  std::vector<RecordedRequest> Requests() const;
  // The most requests the server was answering at once, each counted from
  // its head to the last byte of its body (not while the connection lingers).
  int PeakAnswering() const;
  std::size_t RequestCount(std::string_view path) const;

  // Waits until no connection is open (at most `limit`); true when idle.
  // After an orderly answer the server keeps the connection until the client
  // closes it, for up to 10 seconds, so a client that keeps its handles open
  // shows here as a connection that does not go away.
  bool WaitUntilIdle(std::chrono::milliseconds limit = std::chrono::seconds(30));

 private:
  struct Connection {
    std::thread thread;
    std::atomic<bool> done{false};
  };

  void AcceptLoop();
  void Serve(std::uintptr_t client);
  // Answers one request; false when the connection is over.
  bool Answer(Link& link, const std::string& head, bool keep);
  void ReapFinished();

  // Platform handles kept out of this header: the listening SOCKET and a
  // manual-reset event that every wait of the server's threads also waits
  // for, so stopping ends stalls and lingering connections at once.
  std::uintptr_t listener_;
  void* stop_ = nullptr;
  std::uint16_t port_ = 0;

  mutable std::mutex mutex_;
  std::condition_variable idle_;
  std::map<std::string, std::shared_ptr<const TestResponse>, std::less<>> responses_;
  std::map<std::string, std::shared_ptr<const TestResponse>, std::less<>> rangeResponses_;
  std::vector<RecordedRequest> requests_;
  Reuse reuse_ = Reuse::Close;
  bool dropped_ = false;  // a kept connection was dropped
  int openConnections_ = 0;
  int answering_ = 0;
  int peakAnswering_ = 0;

  std::list<Connection> connections_;  // touched by the accept thread only
  std::thread acceptThread_;
};

// A port on 127.0.0.1 that refuses connections: bound, never listening, so no
// other test can take it while the object lives.
class RefusingPort {
 public:
  RefusingPort();
  ~RefusingPort();
  RefusingPort(const RefusingPort&) = delete;
  RefusingPort& operator=(const RefusingPort&) = delete;

  std::uint16_t port() const { return port_; }
  std::wstring baseUrl() const;

 private:
  std::uintptr_t socket_;
  std::uint16_t port_ = 0;
};

}  // namespace launcher::testing
