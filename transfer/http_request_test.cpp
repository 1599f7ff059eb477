#include "transfer/http_request.h"
#include "transfer/object_download.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <functional>
#include <set>
#include <thread>

#include "core/records.h"
#include "test_support/error_message.h"
#include "test_support/temp_folder.h"
#include "test_support/test_server.h"

namespace launcher {
namespace {

using testing::RefusingPort;
using testing::TestResponse;
using testing::TestServer;

// Well within the 10 s the server waits for a client to close.
constexpr std::chrono::seconds kCloseLimit{5};

std::wstring ErrorOf(const std::function<void()>& action) {
  return testing::ErrorMessageOf([&] { action(); });
}

std::wstring Repeat(wchar_t c, std::size_t n) { return std::wstring(n, c); }

TEST(CrackUrl, SplitsUrls) {
  struct Case {
    const char* name;
    std::wstring url;
    std::wstring host;
    std::uint16_t port;
    std::wstring path;
    bool secure;
  };
  const std::wstring digest = Repeat(L'a', 64);
  const Case kCases[] = {
      {"release host", L"http://releases.stonewake-game.net:8080/latest/manifest.txt", L"releases.stonewake-game.net",
       8080, L"/latest/manifest.txt", false},
      {"object", L"http://127.0.0.1:18080/objects/" + digest, L"127.0.0.1", 18080, L"/objects/" + digest, false},
      {"http without a port", L"http://example.net/a", L"example.net", 80, L"/a", false},
      {"https without a port", L"https://example.net/a", L"example.net", 443, L"/a", true},
      {"https with a port", L"https://example.net:8443/a", L"example.net", 8443, L"/a", true},
      {"no path", L"http://example.net:8080", L"example.net", 8080, L"", false},
      {"longest host", L"http://" + Repeat(L'h', 255) + L"/a", Repeat(L'h', 255), 80, L"/a", false},
      {"longest path", L"http://example.net/" + Repeat(L'p', 2046), L"example.net", 80, L"/" + Repeat(L'p', 2046),
       false},
  };
  for (const auto& c : kCases) {
    SCOPED_TRACE(c.name);
    const CrackedUrl cracked = CrackUrl(c.url);
    EXPECT_EQ(cracked.host, c.host);
    EXPECT_EQ(cracked.port, c.port);
    EXPECT_EQ(cracked.path, c.path);
    EXPECT_EQ(cracked.secure, c.secure);
  }
}

TEST(CrackUrl, BuiltInBaseUrlTakesAppendedPaths) {
  ASSERT_TRUE(ReleaseServerBase.starts_with(L"http://"));
  ASSERT_NE(ReleaseServerBase.back(), L'/');
  const std::wstring hostAndPort(ReleaseServerBase.substr(7));
  const std::size_t colon = hostAndPort.rfind(L':');
  ASSERT_NE(colon, std::wstring::npos) << "the base URL names its port";
  const CrackedUrl cracked = CrackUrl(std::wstring(ReleaseServerBase) + L"/latest/manifest.sig");
  EXPECT_EQ(cracked.host, hostAndPort.substr(0, colon));
  EXPECT_EQ(std::to_wstring(cracked.port), hostAndPort.substr(colon + 1));
  EXPECT_EQ(cracked.path, L"/latest/manifest.sig");
  EXPECT_FALSE(cracked.secure);
}

TEST(CrackUrl, RefusesInvalidAddresses) {
  struct Case {
    const char* name;
    std::wstring url;
  };
  const Case kCases[] = {
      {"empty", L""},
      {"no scheme", L"releases.stonewake-game.net/latest/manifest.txt"},
      {"unknown scheme", L"ftp://example.net/a"},
      {"host of 256 characters", L"http://" + Repeat(L'h', 256) + L"/a"},
      {"path of 2048 characters", L"http://example.net/" + Repeat(L'p', 2047)},
  };
  for (const auto& c : kCases) {
    SCOPED_TRACE(c.name);
    EXPECT_EQ(ErrorOf([&] { CrackUrl(c.url); }), L"The release address is not valid.");
    EXPECT_EQ(ErrorOf([&] { OpenGet(c.url); }), L"The release address is not valid.");
  }
}

class OpenGetTest : public ::testing::Test {
 protected:
  TestServer server;
};

TEST_F(OpenGetTest, AnythingButStatus200Fails) {
  for (int status : {404, 206, 304, 204, 500, 503}) {
    SCOPED_TRACE(status);
    const std::string path = "/status/" + std::to_string(status);
    TestResponse response = TestResponse::Status(status);
    if (status == 204 || status == 304) response.body.clear();
    server.Set(path, response);
    EXPECT_EQ(ErrorOf([&] { OpenGet(server.Url(path)); }),
              L"The release server did not have what the launcher asked for.");
    // The connection closes with the handles; a leaked handle would keep it
    // open until the server gives up on it.
    EXPECT_TRUE(server.WaitUntilIdle(kCloseLimit));
  }
  EXPECT_EQ(ErrorOf([&] { OpenGet(server.Url("/latest/unknown")); }),
            L"The release server did not have what the launcher asked for.");
}

TEST_F(OpenGetTest, ReadsContentLength) {
  auto stated = [](std::uint64_t length) {
    TestResponse response;
    response.length = TestResponse::Length::Stated;
    response.statedLength = length;
    response.closeAfter = 0;
    return response;
  };
  auto header = [](const char* line) {
    TestResponse response;
    response.length = TestResponse::Length::Absent;
    response.headers = {line};
    return response;
  };
  TestResponse absent = TestResponse::Ok("body without a length");
  absent.length = TestResponse::Length::Absent;
  struct Case {
    const char* name;
    TestResponse response;
    std::uint64_t contentLength;
  };
  const Case kCases[] = {
      {"exact", TestResponse::Ok("12345"), 5},
      {"empty body", TestResponse::Ok(""), 0},
      {"absent", absent, 0},
      // Game files of several GiB: a 32-bit reading would cut these short.
      {"above 2^31", stated(3000000000), 3000000000},
      {"above 2^32", stated(5000000000), 5000000000},
      {"largest 64-bit value", header("Content-Length: 18446744073709551615"), UINT64_MAX},
      {"beyond 64 bits", header("Content-Length: 18446744073709551616"), 0},
      {"not a number", header("Content-Length: many"), 0},
      {"negative", header("Content-Length: -5"), 0},
  };
  for (const auto& c : kCases) {
    SCOPED_TRACE(c.name);
    server.Set("/length", c.response);
    const HttpRequest request = OpenGet(server.Url("/length"));
    EXPECT_TRUE(request);
    EXPECT_EQ(request.contentLength(), c.contentLength);
  }
}

TEST_F(OpenGetTest, SendsAPlainGetWithOnlyTheUserAgent) {
  const std::string path = "/objects/0123456789abcdef0123456789abcdef0123456789abcdef0123456789abcdef";
  server.Set(path, TestResponse::Ok("object"));
  { const HttpRequest request = OpenGet(server.Url(path)); }

  const std::vector<testing::RecordedRequest> requests = server.Requests();
  ASSERT_EQ(requests.size(), 1u);
  const testing::RecordedRequest& request = requests[0];
  EXPECT_EQ(request.method, "GET");
  EXPECT_EQ(request.path, path);
  EXPECT_EQ(request.Header("User-Agent"), "StonewakeLauncher/1.0");
  // Host and the connection's own management come from the platform; no
  // header of the launcher's own besides the user agent may appear: no
  // Range, no conditional or cache headers.
  const std::set<std::string> allowed = {"host", "user-agent", "connection"};
  for (const std::string& line : request.headers) {
    std::string name = line.substr(0, line.find(':'));
    for (char& ch : name) ch = static_cast<char>(std::tolower(static_cast<unsigned char>(ch)));
    EXPECT_TRUE(allowed.count(name)) << line;
  }
}

TEST_F(OpenGetTest, HoldsTheConnectionUntilReleased) {
  server.Set("/latest/manifest.txt", TestResponse::Ok("manifest"));
  HttpRequest request = OpenGet(server.Url("/latest/manifest.txt"));
  EXPECT_FALSE(server.WaitUntilIdle(std::chrono::milliseconds(300)));

  // Assigning over an open request closes it.
  request = HttpRequest{};
  EXPECT_FALSE(request);
  EXPECT_TRUE(server.WaitUntilIdle(kCloseLimit));
}

// A server that takes the request and then says nothing: the wait for the
// response headers ends with the offline sentence at the 30-second receive
// time-out, not whenever the server pleases (here after two minutes).
TEST_F(OpenGetTest, SilentServerEndsOffline) {
  TestResponse silent = TestResponse::Ok("late");
  silent.stallBeforeHeaders = std::chrono::minutes(2);
  server.Set("/latest/manifest.txt", silent);
  const auto start = std::chrono::steady_clock::now();
  EXPECT_EQ(ErrorOf([&] { OpenGet(server.Url("/latest/manifest.txt")); }),
            L"Can't reach the update server. Check your internet connection. Trying again...");
  EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(60));
}

// The same silence on a kept connection is a time-out, not a connection the
// server dropped: it is reported after one wait, and the request is never
// sent again (each try would wait as long once more).
TEST_F(OpenGetTest, ASilentServerOnAKeptConnectionIsNotAskedAgain) {
  server.SetReuse(testing::Reuse::Keep);
  server.Set("/objects/a", TestResponse::Ok("first"));
  TestResponse silent = TestResponse::Ok("late");
  silent.stallBeforeHeaders = std::chrono::minutes(2);
  server.Set("/latest/manifest.sig", silent);
  HttpSession session;
  testing::TempFolder folder;
  ASSERT_TRUE(DownloadToFile(session, server.Url("/objects/a"), folder / L"a.partial", 100,
                             [](std::uint64_t, std::uint64_t) {}));

  const auto start = std::chrono::steady_clock::now();
  EXPECT_EQ(ErrorOf([&] { session.Get(server.Url("/latest/manifest.sig")); }),
            L"Can't reach the update server. Check your internet connection. Trying again...");
  EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(50));
  EXPECT_EQ(server.RequestCount("/latest/manifest.sig"), 1u);
}

// A notice that is not the completion of the call waited for (here a read's
// while the wait is for the ready count) fails the call instead of being
// taken as its result: a stale 0 would end the body early, any other count
// would be read as bytes ready.
TEST_F(OpenGetTest, AWaitTakesOnlyItsOwnCompletion) {
  TestResponse slow = TestResponse::Ok(std::string(1000, 's'));
  slow.stallInBody = std::chrono::seconds(5);
  server.Set("/objects/slow", slow);
  for (const DWORD stray : {0u, 7u}) {
    SCOPED_TRACE(stray);
    HttpRequest request = OpenGet(server.Url("/objects/slow"));
    std::thread notifier([&] {
      std::this_thread::sleep_for(std::chrono::milliseconds(300));
      TakeNotice(request.completion(), WINHTTP_CALLBACK_STATUS_READ_COMPLETE, nullptr, stray);
    });
    const auto start = std::chrono::steady_clock::now();
    EXPECT_EQ(ErrorOf([&] { BytesReady(request); }),
              L"The download was interrupted. Check your internet connection and try again.");
    EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(4));
    notifier.join();
  }
}

TEST(OpenGet, UnreachableServer) {
  RefusingPort refusing;
  EXPECT_EQ(ErrorOf([&] { OpenGet(refusing.baseUrl() + L"/latest/manifest.txt"); }),
            L"Can't reach the update server. Check your internet connection. Trying again...");
}

// A session kept across requests: every request is a request of its own
// with OpenGet's rules, and one that failed on the way (a server that
// refused, one that dropped the connection) does not fail the next.
TEST_F(OpenGetTest, ASessionServesRequestAfterRequestAndOutlivesFailures) {
  RefusingPort refusing;
  TestResponse dropped = TestResponse::Ok(std::string(200000, 'd'));
  dropped.resetAfter = 1000;
  server.Set("/objects/dropped", dropped);
  server.Set("/objects/a", TestResponse::Ok("first"));
  server.Set("/objects/b", TestResponse::Ok("second"));
  const std::wstring kUnreachable = L"Can't reach the update server. Check your internet connection. Trying again...";

  HttpSession session;
  const struct {
    std::wstring url;
    std::wstring error;
    std::uint64_t length;
  } steps[] = {
      {server.Url("/objects/a"), L"", 5},
      {refusing.baseUrl() + L"/objects/a", kUnreachable, 0},
      {server.Url("/objects/b"), L"", 6},
      {server.Url("/objects/missing"), L"The release server did not have what the launcher asked for.", 0},
      {server.Url("/objects/a"), L"", 5},
  };
  for (const auto& step : steps) {
    SCOPED_TRACE(std::string(step.url.begin(), step.url.end()));
    HttpRequest request;
    EXPECT_EQ(ErrorOf([&] { request = session.Get(step.url); }), step.error);
    if (step.error.empty()) {
      EXPECT_EQ(request.contentLength(), step.length);
      // The body is left unread: the next request must not stumble on it.
    }
  }
  // A body cut off by the server, read to its failure, and the next.
  testing::TempFolder folder;
  // (Wine's WinHTTP reports some resets as a body that ended early.)
  const std::wstring cut = ErrorOf([&] {
    DownloadToFile(session, server.Url("/objects/dropped"), folder / L"x.partial", 200000,
                   [](std::uint64_t, std::uint64_t) {});
  });
  EXPECT_TRUE(cut == L"The download was interrupted. Check your internet connection and try again." ||
              cut == L"The download was cut short. Check your internet connection and try again.")
      << std::string(cut.begin(), cut.end());
  EXPECT_EQ(ErrorOf([&] { EXPECT_EQ(session.Get(server.Url("/objects/b")).contentLength(), 6u); }), L"");
  EXPECT_EQ(server.RequestCount("/objects/a"), 2u);
  EXPECT_EQ(server.RequestCount("/objects/b"), 2u);
}

// A closed range of an object: the request names exactly the bytes, and the
// answer is taken as them only when the 206 names exactly them; a refusal is
// a result with the request closed, not an error.
TEST_F(OpenGetTest, ASessionGetsAClosedRangeOnlyWhenAnsweredExactly) {
  const std::string object(1000, 'o');
  const ByteRange range = ByteRange::Closed(100, 199, 1000);
  const auto partial = [](std::string body, std::string contentRange) {
    TestResponse r = TestResponse::Ok(std::move(body));
    r.status = 206;
    r.headers = {"Content-Range: " + contentRange};
    return r;
  };
  struct Case {
    const char* name;
    TestResponse answer;
    RangeAnswer expected;
    std::uint64_t bodyBytes;  // read from an open request
  };
  const Case kCases[] = {
      {"exact", partial(object.substr(100, 100), "bytes 100-199/1000"), RangeAnswer::Exact, 100},
      {"whole object",
       [&] {
         TestResponse whole = TestResponse::Ok(object);
         whole.answersRanges = false;
         return whole;
       }(),
       RangeAnswer::Whole, 1000},
      {"the rest instead", partial(object.substr(100), "bytes 100-999/1000"), RangeAnswer::Refused, 0},
      {"416", TestResponse::Status(416), RangeAnswer::Refused, 0},
  };
  HttpSession session;
  for (const auto& c : kCases) {
    SCOPED_TRACE(c.name);
    server.SetForRange("/objects/r", c.answer);
    HttpSession::RangeReply reply;
    EXPECT_EQ(ErrorOf([&] { reply = session.GetRange(server.Url("/objects/r"), range); }), L"");
    EXPECT_EQ(reply.answer, c.expected);
    EXPECT_EQ(static_cast<bool>(reply.request), c.expected != RangeAnswer::Refused);
    if (reply.request) {
      std::uint64_t read = 0;
      std::string block(65536, '\0');
      while (const DWORD ready = BytesReady(reply.request)) {
        read += ReadBytes(reply.request, block.data(), std::min<DWORD>(ready, static_cast<DWORD>(block.size())));
      }
      EXPECT_EQ(read, c.bodyBytes);
    }
    EXPECT_EQ(server.Requests().back().Header("Range"), "bytes=100-199");
  }
}

// A kept connection dropped without a word (closed or reset once the next
// request arrived): that request is sent once more and answered; the
// requests after it go on as before. Requests of one session reuse their
// connection everywhere. One-off requests (the probe's) each have a session
// of their own, which on Windows never finds a kept connection; Wine's pool
// spans the process, so there they meet the dropped one too.
TEST_F(OpenGetTest, ARequestOnADroppedKeptConnectionIsSentOnceMore) {
  for (const bool oneOff : {false, true}) {
    for (const testing::Reuse reuse : {testing::Reuse::CloseOnce, testing::Reuse::ResetOnce}) {
      SCOPED_TRACE(reuse == testing::Reuse::CloseOnce ? "closed" : "reset");
      SCOPED_TRACE(oneOff ? "one-off requests" : "one session");
      TestServer kept;
      kept.SetReuse(reuse);
      kept.Set("/objects/a", TestResponse::Ok("first"));
      kept.Set("/objects/b", TestResponse::Ok("second"));
      kept.Set("/objects/c", TestResponse::Ok("third"));
      HttpSession session;
      for (const char* path : {"/objects/a", "/objects/b", "/objects/c"}) {
        SCOPED_TRACE(path);
        testing::TempFolder folder;
        EXPECT_EQ(ErrorOf([&] {
                    const auto progress = [](std::uint64_t, std::uint64_t) {};
                    if (oneOff) {
                      DownloadToFile(kept.Url(path), folder / L"x.partial", 100, progress);
                    } else {
                      DownloadToFile(session, kept.Url(path), folder / L"x.partial", 100, progress);
                    }
                  }),
                  L"");
      }
      EXPECT_EQ(kept.RequestCount("/objects/a"), 1u);
      EXPECT_GE(kept.RequestCount("/objects/b"), 1u);
      if (!oneOff) {
        EXPECT_EQ(kept.RequestCount("/objects/b"), 2u);
      }
      EXPECT_EQ(kept.RequestCount("/objects/c"), 1u);
    }
  }
}

}  // namespace
}  // namespace launcher
