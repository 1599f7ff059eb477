#include "transfer/body_fetch.h"

#include <windows.h>

#include <gtest/gtest.h>

#include <future>
#include <optional>

#include "core/records.h"
#include "test_support/error_message.h"
#include "test_support/pattern_bytes.h"
#include "test_support/test_server.h"

namespace launcher {
namespace {

using testing::RefusingPort;
using testing::TestResponse;
using testing::TestServer;

const std::wstring kInterrupted = L"The download was interrupted. Check your internet connection and try again.";
const std::wstring kTooMuch = L"The release server sent more than expected.";
const std::wstring kNotThere = L"The release server did not have what the launcher asked for.";

// The ceiling the cases are written for (callers choose their own).
constexpr std::size_t kCeiling = 1048576;

std::string Bytes(std::size_t size, unsigned seed = 1) { return testing::PatternBytes(size, seed); }

std::wstring ErrorOf(const std::wstring& url) {
  return testing::ErrorMessageOf([&] { FetchBody(url, kCeiling); });
}

bool RunningUnderWine() { return GetProcAddress(GetModuleHandleW(L"ntdll.dll"), "wine_get_version") != nullptr; }

std::string AsString(const std::vector<std::uint8_t>& bytes) { return std::string(bytes.begin(), bytes.end()); }

TestResponse With(TestResponse response, void (*change)(TestResponse&)) {
  change(response);
  return response;
}

class FetchBodyTest : public ::testing::Test {
 protected:
  TestServer server;
};

// Each fault of a served body, ending either in the body FetchBody returns or
// in the sentence it throws.
TEST_F(FetchBodyTest, ServedBodiesAndFaults) {
  const std::string small = Bytes(5000);
  const std::string ceiling = Bytes(kCeiling, 2);
  const std::string overCeiling = Bytes(kCeiling + 1, 3);
  struct Case {
    const char* name;
    TestResponse response;
    std::optional<std::string> body;  // or else `message`
    std::wstring message;
    // Wine's WinHTTP does not always stop at a stated length that the server
    // sends on past: the body may then run on, still a prefix of what was
    // sent (the signature check refuses it either way).
    std::optional<std::string> sentUnderWine = std::nullopt;
  };
  const Case kCases[] = {
      {"small body", TestResponse::Ok(small), small, L""},
      {"empty body", TestResponse::Ok(""), "", L""},
      {"no Content-Length",
       With(TestResponse::Ok(small), [](TestResponse& r) { r.length = TestResponse::Length::Absent; }), small, L""},
      {"body shorter than its Content-Length, returned as it came",
       With(TestResponse::Ok(small), [](TestResponse& r) { r.closeAfter = 3000; }), small.substr(0, 3000), L""},
      // The stated length sizes the buffer only up to the ceiling.
      {"Content-Length of a terabyte, body cut short",
       With(TestResponse::Ok(small),
            [](TestResponse& r) {
              r.length = TestResponse::Length::Stated;
              r.statedLength = 1ull << 40;
              r.closeAfter = 3000;
            }),
       small.substr(0, 3000), L""},
      {"Content-Length shorter than the body",
       With(TestResponse::Ok(small),
            [](TestResponse& r) {
              r.length = TestResponse::Length::Stated;
              r.statedLength = 1000;
            }),
       small.substr(0, 1000), L"", small},
      {"exactly 1,048,576 bytes", TestResponse::Ok(ceiling), ceiling, L""},
      {"exactly 1,048,576 bytes without Content-Length",
       With(TestResponse::Ok(ceiling), [](TestResponse& r) { r.length = TestResponse::Length::Absent; }), ceiling, L""},
      {"a slow server",
       With(TestResponse::Ok(small),
            [](TestResponse& r) {
              r.stallBeforeHeaders = std::chrono::milliseconds(500);
              r.stallAt = 100;
              r.stallInBody = std::chrono::milliseconds(1000);
            }),
       small, L""},
      {"1,048,577 bytes", TestResponse::Ok(overCeiling), std::nullopt, kTooMuch},
      {"1,048,577 bytes without Content-Length",
       With(TestResponse::Ok(overCeiling), [](TestResponse& r) { r.length = TestResponse::Length::Absent; }),
       std::nullopt, kTooMuch},
      {"404", TestResponse::Status(404), std::nullopt, kNotThere},
      {"206 with the whole body", With(TestResponse::Ok(small), [](TestResponse& r) { r.status = 206; }), std::nullopt,
       kNotThere},
      {"304", With(TestResponse::Ok(""), [](TestResponse& r) { r.status = 304; }), std::nullopt, kNotThere},
  };
  int n = 0;
  for (const auto& c : kCases) {
    SCOPED_TRACE(c.name);
    const std::string path = "/latest/case" + std::to_string(n++);
    server.Set(path, c.response);
    try {
      const std::vector<std::uint8_t> body = FetchBody(server.Url(path), kCeiling);
      if (c.body && c.sentUnderWine && body.size() > c.body->size()) {
        EXPECT_TRUE(c.sentUnderWine->starts_with(AsString(body)));
      } else if (c.body) {
        EXPECT_EQ(body.size(), c.body->size());
        EXPECT_TRUE(AsString(body) == *c.body);
      } else {
        ADD_FAILURE() << "no error";
      }
    } catch (const LauncherError& error) {
      EXPECT_FALSE(c.body) << "unexpected error";
      EXPECT_EQ(error.message, c.message);
    }
    // The handles are closed on every path, which closes the connection.
    EXPECT_TRUE(server.WaitUntilIdle(std::chrono::seconds(5)));
  }
}

TEST_F(FetchBodyTest, StopsReadingOnceTheCeilingIsCrossed) {
  TestResponse endless;
  endless.fillerBytes = 1ull << 30;
  endless.length = TestResponse::Length::Absent;
  server.Set("/latest/manifest.txt", endless);
  EXPECT_EQ(testing::ErrorMessageOf([&] { FetchBody(server.Url("/latest/manifest.txt"), kCeiling); }), kTooMuch);
  ASSERT_TRUE(server.WaitUntilIdle(std::chrono::seconds(10)));
  // What the socket buffers took beyond the ceiling is small next to a
  // gibibyte the client would have drained.
  EXPECT_LT(server.Requests().at(0).bodyBytesSent, 64u << 20);
}

// A connection reset mid-body fails the read. Under Wine the reset sometimes
// arrives behind an end of stream (Wine's socket close can send FIN first),
// and WinHTTP then returns the bytes so far as if they were the whole body;
// the signature and digest checks downstream refuse such a body.
TEST_F(FetchBodyTest, DroppedConnection) {
  const std::string body = Bytes(5000);
  for (bool withLength : {true, false}) {
    SCOPED_TRACE(withLength ? "with Content-Length" : "without Content-Length");
    TestResponse dropped = TestResponse::Ok(body);
    dropped.resetAfter = 3000;
    if (!withLength) dropped.length = TestResponse::Length::Absent;
    server.Set("/latest/manifest.txt", dropped);
    try {
      const std::vector<std::uint8_t> received = FetchBody(server.Url("/latest/manifest.txt"), kCeiling);
      EXPECT_TRUE(RunningUnderWine()) << "a dropped connection was taken for a whole body";
      EXPECT_TRUE(AsString(received) == body.substr(0, 3000));
    } catch (const LauncherError& error) {
      EXPECT_EQ(error.message, kInterrupted);
    }
    EXPECT_TRUE(server.WaitUntilIdle(std::chrono::seconds(5)));
  }
}

// A server that stops sending mid-body for longer than the 30-second receive
// time-out. Under Wine this is the one way to make reading the body fail.
TEST_F(FetchBodyTest, StalledBodyTimesOut) {
  TestResponse stalled = TestResponse::Ok(Bytes(1000));
  stalled.stallAt = 100;
  stalled.stallInBody = std::chrono::seconds(45);
  server.Set("/latest/manifest.sig", stalled);
  EXPECT_EQ(ErrorOf(server.Url("/latest/manifest.sig")), kInterrupted);
}

TEST(FetchBody, UnreachableAndInvalidAddresses) {
  RefusingPort refusing;
  EXPECT_EQ(ErrorOf(refusing.baseUrl() + L"/latest/manifest.txt"),
            L"Can't reach the update server. Check your internet connection. Trying again...");
  EXPECT_EQ(ErrorOf(L"http:/latest/manifest.txt"), L"The release address is not valid.");
}

TEST_F(FetchBodyTest, ThreadsFetchAtTheSameTime) {
  constexpr int kThreads = 8;
  for (int i = 0; i < kThreads; ++i) {
    server.Set("/body/" + std::to_string(i), TestResponse::Ok(Bytes(200000 + i, i + 10)));
  }
  std::vector<std::future<std::vector<std::uint8_t>>> fetches;
  for (int i = 0; i < kThreads; ++i) {
    fetches.push_back(std::async(std::launch::async,
                                 [&, i] { return FetchBody(server.Url("/body/" + std::to_string(i)), kCeiling); }));
  }
  for (int i = 0; i < kThreads; ++i) {
    SCOPED_TRACE(i);
    EXPECT_TRUE(AsString(fetches[i].get()) == Bytes(200000 + i, i + 10));
  }
}

}  // namespace
}  // namespace launcher
