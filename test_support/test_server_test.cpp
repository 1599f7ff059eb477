// The test server's faults, seen on the wire by a plain socket client: the
// transfer and engine tests rely on each one being exactly what it claims.
#include "test_support/test_server.h"

#include <winsock2.h>

#include <gtest/gtest.h>

#include <future>

namespace launcher::testing {
namespace {

struct Exchange {
  std::string head;  // up to the blank line
  std::string body;  // everything after it
  bool reset = false;
};

// Wine sometimes delivers an end of stream just before the reset of a
// connection whose socket was closed with a zero linger time. The reset
// shows in the sends that follow: they fail at once, while after an orderly
// close the server still takes them.
bool ResetAfterEnd(SOCKET s) {
  for (int attempt = 0; attempt < 10; ++attempt) {
    if (send(s, "x", 1, 0) == SOCKET_ERROR) return WSAGetLastError() == WSAECONNRESET;
    Sleep(20);
  }
  return false;
}

// Sends `request` and reads until the server closes or resets.
Exchange Fetch(std::uint16_t port, const std::string& request) {
  Exchange result;
  WSADATA data;
  WSAStartup(MAKEWORD(2, 2), &data);
  const SOCKET s = socket(AF_INET, SOCK_STREAM, IPPROTO_TCP);
  const DWORD timeoutMs = 20000;
  setsockopt(s, SOL_SOCKET, SO_RCVTIMEO, reinterpret_cast<const char*>(&timeoutMs), sizeof(timeoutMs));
  sockaddr_in address{};
  address.sin_family = AF_INET;
  address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  address.sin_port = htons(port);
  std::string received;
  if (connect(s, reinterpret_cast<sockaddr*>(&address), sizeof(address)) == 0) {
    send(s, request.data(), static_cast<int>(request.size()), 0);
    char buffer[65536];
    for (;;) {
      const int n = recv(s, buffer, sizeof(buffer), 0);
      if (n > 0) {
        received.append(buffer, static_cast<std::size_t>(n));
        continue;
      }
      result.reset = (n == SOCKET_ERROR && WSAGetLastError() == WSAECONNRESET) || (n == 0 && ResetAfterEnd(s));
      break;
    }
  } else {
    ADD_FAILURE() << "cannot connect";
  }
  closesocket(s);
  WSACleanup();
  const std::size_t end = received.find("\r\n\r\n");
  result.head = received.substr(0, end);
  if (end != std::string::npos) result.body = received.substr(end + 4);
  return result;
}

std::string Get(const std::string& path) { return "GET " + path + " HTTP/1.1\r\nHost: 127.0.0.1\r\n\r\n"; }

bool HasLine(const std::string& head, const std::string& line) {
  return ("\r\n" + head + "\r\n").find("\r\n" + line + "\r\n") != std::string::npos;
}

TEST(TestServer, AnswersAsSet) {
  TestServer server;
  auto set = [&](const std::string& path, TestResponse response) {
    server.Set(path, std::move(response));
    return path;
  };
  TestResponse absent = TestResponse::Ok("hello");
  absent.length = TestResponse::Length::Absent;
  TestResponse stated = TestResponse::Ok("hello");
  stated.length = TestResponse::Length::Stated;
  stated.statedLength = 99;
  TestResponse cut = TestResponse::Ok("hello");
  cut.closeAfter = 3;
  TestResponse filler = TestResponse::Ok("ab");
  filler.fillerBytes = 100;
  filler.headers = {"X-Extra: yes"};
  TestResponse stalled = TestResponse::Ok("hello");
  stalled.stallAt = 2;
  stalled.stallInBody = std::chrono::milliseconds(200);

  std::string fillerBody = "ab";
  for (int i = 0; i < 100; ++i) fillerBody += FillerByte(i);

  struct Case {
    const char* name;
    std::string path;
    const char* statusLine;
    const char* lengthLine;  // nullptr: no Content-Length
    std::string body;
  };
  const Case kCases[] = {
      {"ok", set("/ok", TestResponse::Ok("hello")), "HTTP/1.1 200 OK", "Content-Length: 5", "hello"},
      {"unknown path", "/nothing/here", "HTTP/1.1 404 Not Found", "Content-Length: 14", "404 Not Found\n"},
      {"status", set("/moved", TestResponse::Status(304)), "HTTP/1.1 304 Not Modified", "Content-Length: 17",
       "304 Not Modified\n"},
      {"no Content-Length", set("/absent", absent), "HTTP/1.1 200 OK", nullptr, "hello"},
      {"stated Content-Length", set("/stated", stated), "HTTP/1.1 200 OK", "Content-Length: 99", "hello"},
      {"cut off in order", set("/cut", cut), "HTTP/1.1 200 OK", "Content-Length: 5", "hel"},
      {"filler and a header", set("/filler", filler), "HTTP/1.1 200 OK", "Content-Length: 102", fillerBody},
      {"stall within the body", set("/stalled", stalled), "HTTP/1.1 200 OK", "Content-Length: 5", "hello"},
  };
  for (const auto& c : kCases) {
    SCOPED_TRACE(c.name);
    const Exchange exchange = Fetch(server.port(), Get(c.path));
    EXPECT_EQ(exchange.head.substr(0, exchange.head.find("\r\n")), c.statusLine);
    if (c.lengthLine) {
      EXPECT_TRUE(HasLine(exchange.head, c.lengthLine)) << exchange.head;
    } else {
      EXPECT_EQ(exchange.head.find("Content-Length"), std::string::npos) << exchange.head;
    }
    EXPECT_TRUE(HasLine(exchange.head, "Connection: close"));
    EXPECT_EQ(exchange.body, c.body);
    EXPECT_FALSE(exchange.reset);
  }
  EXPECT_TRUE(HasLine(Fetch(server.port(), Get("/filler")).head, "X-Extra: yes"));
}

TEST(TestServer, ResetsAfterTheGivenBytes) {
  TestServer server;
  TestResponse dropped = TestResponse::Ok("hello");
  dropped.resetAfter = 3;
  server.Set("/dropped", dropped);
  const Exchange exchange = Fetch(server.port(), Get("/dropped"));
  EXPECT_TRUE(exchange.reset);
  EXPECT_TRUE(std::string("hel").starts_with(exchange.body)) << exchange.body;
}

// One Range header, answered as a static server does; faults count from
// the part's first byte, and an answer set as not answering ranges, or set
// for range requests, is sent as it stands.
TEST(TestServer, AnswersSingleRanges) {
  TestServer server;
  const std::string content = "0123456789";
  server.Set("/ten", TestResponse::Ok(content));
  TestResponse filler = TestResponse::Ok("ab");
  filler.fillerBytes = 8;
  server.Set("/filler", filler);
  TestResponse whole = TestResponse::Ok(content);
  whole.answersRanges = false;
  server.Set("/whole", whole);
  TestResponse dropped = TestResponse::Ok(content);
  dropped.resetAfter = 3;
  server.Set("/dropped", dropped);
  server.Set("/fixed", TestResponse::Ok(content));
  TestResponse fixed = TestResponse::Ok("xyz");
  fixed.status = 206;
  fixed.headers = {"Content-Range: bytes 0-2/3"};
  server.SetForRange("/fixed", fixed);

  struct Case {
    const char* name;
    std::string path;
    std::string range;
    const char* statusLine;
    std::string contentRange;  // empty: none
    std::string body;
    bool reset = false;
  };
  const Case kCases[] = {
      {"closed range", "/ten", "bytes=2-4", "HTTP/1.1 206 Partial Content", "bytes 2-4/10", "234"},
      {"one byte", "/ten", "bytes=9-9", "HTTP/1.1 206 Partial Content", "bytes 9-9/10", "9"},
      {"from a byte on", "/ten", "bytes=7-", "HTTP/1.1 206 Partial Content", "bytes 7-9/10", "789"},
      {"past the end, cut to it", "/ten", "bytes=5-100", "HTTP/1.1 206 Partial Content", "bytes 5-9/10", "56789"},
      {"the last bytes", "/ten", "bytes=-3", "HTTP/1.1 206 Partial Content", "bytes 7-9/10", "789"},
      {"across body and filler", "/filler", "bytes=1-3", "HTTP/1.1 206 Partial Content", "bytes 1-3/10",
       std::string("b") + FillerByte(0) + FillerByte(1)},
      {"starting at the size", "/ten", "bytes=10-", "HTTP/1.1 416 Range Not Satisfiable", "bytes */10",
       "416 Range Not Satisfiable\n"},
      {"no bytes at the end", "/ten", "bytes=-0", "HTTP/1.1 416 Range Not Satisfiable", "bytes */10",
       "416 Range Not Satisfiable\n"},
      {"backwards", "/ten", "bytes=4-2", "HTTP/1.1 200 OK", "", content},
      {"several ranges", "/ten", "bytes=0-1,4-5", "HTTP/1.1 200 OK", "", content},
      {"another unit", "/ten", "items=0-1", "HTTP/1.1 200 OK", "", content},
      {"an answer that takes no ranges", "/whole", "bytes=2-4", "HTTP/1.1 200 OK", "", content},
      {"an answer set for ranges", "/fixed", "bytes=5-9", "HTTP/1.1 206 Partial Content", "bytes 0-2/3", "xyz"},
      {"dropped within the part", "/dropped", "bytes=5-", "HTTP/1.1 206 Partial Content", "bytes 5-9/10", "567", true},
  };
  for (const auto& c : kCases) {
    SCOPED_TRACE(c.name);
    const Exchange exchange =
        Fetch(server.port(), "GET " + c.path + " HTTP/1.1\r\nHost: 127.0.0.1\r\nRange: " + c.range + "\r\n\r\n");
    EXPECT_EQ(exchange.head.substr(0, exchange.head.find("\r\n")), c.statusLine);
    if (c.contentRange.empty()) {
      EXPECT_EQ(exchange.head.find("Content-Range"), std::string::npos) << exchange.head;
    } else {
      EXPECT_TRUE(HasLine(exchange.head, "Content-Range: " + c.contentRange)) << exchange.head;
    }
    EXPECT_EQ(exchange.reset, c.reset);
    if (c.reset) {
      EXPECT_TRUE(c.body.starts_with(exchange.body)) << exchange.body;
      continue;
    }
    EXPECT_TRUE(HasLine(exchange.head, "Content-Length: " + std::to_string(c.body.size()))) << exchange.head;
    EXPECT_EQ(exchange.body, c.body);
  }
  EXPECT_TRUE(server.WaitUntilIdle());
  EXPECT_EQ(server.Requests()[0].bodyBytesSent, 3u);
}

TEST(TestServer, RecordsRequests) {
  TestServer server;
  Fetch(server.port(), "GET /a?b=1 HTTP/1.1\r\nHost: 127.0.0.1\r\nx-probe:  one two \r\nRange: bytes=0-\r\n\r\n");
  Fetch(server.port(), Get("/a?b=1"));
  Fetch(server.port(), Get("/c"));

  const std::vector<RecordedRequest> requests = server.Requests();
  ASSERT_EQ(requests.size(), 3u);
  EXPECT_EQ(requests[0].method, "GET");
  EXPECT_EQ(requests[0].path, "/a?b=1");
  EXPECT_EQ(requests[0].headers,
            (std::vector<std::string>{"Host: 127.0.0.1", "x-probe:  one two ", "Range: bytes=0-"}));
  EXPECT_EQ(requests[0].Header("X-Probe"), "one two");
  EXPECT_EQ(requests[0].Header("range"), "bytes=0-");
  EXPECT_EQ(requests[1].Header("Range"), std::nullopt);
  EXPECT_EQ(server.RequestCount("/a?b=1"), 2u);
  EXPECT_EQ(server.RequestCount("/a"), 0u);
  EXPECT_TRUE(server.WaitUntilIdle());
  EXPECT_EQ(server.Requests()[2].bodyBytesSent, 14u);  // "404 Not Found\n"
}

TEST(TestServer, StopsDuringAStall) {
  std::future<Exchange> client;
  {
    TestServer server;
    TestResponse stalled = TestResponse::Ok("late");
    stalled.stallBeforeHeaders = std::chrono::minutes(5);
    server.Set("/stalled", stalled);
    client = std::async(std::launch::async, [port = server.port()] { return Fetch(port, Get("/stalled")); });
    while (server.RequestCount("/stalled") == 0) std::this_thread::sleep_for(std::chrono::milliseconds(10));
  }
  // The destructor ended the stall and the connection without an answer.
  EXPECT_EQ(client.get().head, "");
}

}  // namespace
}  // namespace launcher::testing
