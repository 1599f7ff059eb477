#include "transfer/object_download.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <functional>
#include <optional>
#include <utility>
#include <vector>

#include "core/hex.h"
#include "core/records.h"
#include "core/text.h"
#include "release/sha256.h"
#include "test_support/error_message.h"
#include "test_support/pattern_bytes.h"
#include "test_support/temp_folder.h"
#include "test_support/test_server.h"

namespace launcher {
namespace {

using testing::FileExists;
using testing::ReadFileBytes;
using testing::TempFolder;
using testing::TestResponse;
using testing::TestServer;
using testing::WriteFileBytes;

constexpr std::uint64_t kMiB = 1048576;

const std::wstring kCutShort = L"The download was cut short. Check your internet connection and try again.";
const std::wstring kInterrupted = L"The download was interrupted. Check your internet connection and try again.";
const std::wstring kMismatch = L"A downloaded file did not match the release, so it was thrown away. Try again.";
const std::wstring kNotThere = L"The release server did not have what the launcher asked for.";

std::string Bytes(std::size_t size, unsigned seed = 1) { return testing::PatternBytes(size, seed); }

std::string Sha256Hex(std::string_view bytes) {
  Sha256Hash hash;
  hash.Update(AsBytes(bytes));
  return HexLower(hash.Finish());
}

class ObjectDownloadTest : public ::testing::Test {
 protected:
  // Serves `content` as the object of a manifest file whose digest is
  // `content`'s own, unless `served` says otherwise.
  ManifestFile Publish(const std::string& content, const std::optional<TestResponse>& served = std::nullopt) {
    const ManifestFile file{"game/data.pak", Sha256Hex(content), content.size()};
    server.Set("/objects/" + file.sha256, served ? *served : TestResponse::Ok(content));
    return file;
  }

  // FetchChecked into `destination` on a connection of its own, collecting
  // the bytes written at every report; returns the error's sentence, or
  // empty on success.
  std::wstring Fetch(const ManifestFile& file, const std::wstring& destination) {
    written.clear();
    return testing::ErrorMessageOf([&] {
      HttpSession session;
      const std::wstring partial =
          FetchChecked(session, server.baseUrl(), file, destination,
                       [this](std::uint64_t bytes, std::uint64_t) { written.push_back(bytes); });
      EXPECT_EQ(partial, destination + L".partial");
    });
  }

  TestServer server;
  TempFolder folder;
  std::vector<std::uint64_t> written;
};

// Served bodies of every shape, each ending in a verified ".partial" file
// holding exactly the object, or in the sentence FetchChecked throws with the
// ".partial" file left as the table says.
TEST_F(ObjectDownloadTest, ServedBodiesAndFaults) {
  enum class Left { Object, Prefix, Nothing };
  struct Case {
    const char* name;
    std::size_t size;
    void (*serve)(TestResponse&);
    std::wstring message;  // empty: success
    Left left;
    // Wine's WinHTTP ends a reset body like a complete one (a read of 0
    // bytes), so there the length check or the digest speaks instead.
    std::wstring messageUnderWine = L"";
    Left leftUnderWine = Left::Nothing;
  };
  const auto none = [](TestResponse&) {};
  const auto noLength = [](TestResponse& r) { r.length = TestResponse::Length::Absent; };
  const Case kCases[] = {
      {"with Content-Length", 300000, none, L"", Left::Object},
      {"empty object", 0, none, L"", Left::Object},
      {"no Content-Length, empty", 0, noLength, L"", Left::Object},
      {"no Content-Length, one byte", 1, noLength, L"", Left::Object},
      {"no Content-Length, several chunks", 3 * kMiB + 7, noLength, L"", Left::Object},
      {"a slow server", 200000,
       [](TestResponse& r) {
         r.stallBeforeHeaders = std::chrono::milliseconds(300);
         r.stallAt = 70000;
         r.stallInBody = std::chrono::milliseconds(700);
       },
       L"", Left::Object},
      {"body shorter than Content-Length", 300000, [](TestResponse& r) { r.closeAfter = 120000; }, kCutShort,
       Left::Prefix},
      {"connection dropped mid-body", 300000, [](TestResponse& r) { r.resetAfter = 120000; }, kInterrupted,
       Left::Prefix, kCutShort, Left::Prefix},
      {"connection dropped mid-body, no Content-Length", 300000,
       [](TestResponse& r) {
         r.length = TestResponse::Length::Absent;
         r.resetAfter = 120000;
       },
       kInterrupted, Left::Prefix, kMismatch, Left::Nothing},
      // Without a length a cut-off body looks complete; the digest catches it.
      {"no Content-Length, cut off", 300000,
       [](TestResponse& r) {
         r.length = TestResponse::Length::Absent;
         r.closeAfter = 120000;
       },
       kMismatch, Left::Nothing},
      // A body that runs on past its stated length is thrown away whether or
      // not WinHTTP stops reading at the length.
      {"Content-Length shorter than the object", 300000,
       [](TestResponse& r) {
         r.length = TestResponse::Length::Stated;
         r.statedLength = 1000;
       },
       kMismatch, Left::Nothing},
      {"404", 1000, [](TestResponse& r) { r = TestResponse::Status(404); }, kNotThere, Left::Nothing},
  };
  unsigned seed = 1;
  for (const auto& c : kCases) {
    SCOPED_TRACE(c.name);
    const std::string content = Bytes(c.size, seed++);
    TestResponse served = TestResponse::Ok(content);
    c.serve(served);
    const ManifestFile file = Publish(content, served);
    const std::wstring destination = folder / (L"case" + std::to_wstring(seed) + L"\\data.pak");

    const std::wstring message = Fetch(file, destination);
    const bool wineWay = !c.messageUnderWine.empty() && message == c.messageUnderWine;
    if (!wineWay) {
      EXPECT_EQ(message, c.message);
    }
    const std::wstring partial = destination + L".partial";
    switch (wineWay ? c.leftUnderWine : c.left) {
      case Left::Object:
        EXPECT_TRUE(ReadFileBytes(partial) == content);
        break;
      case Left::Prefix: {
        const std::string left = ReadFileBytes(partial);
        EXPECT_LT(left.size(), content.size());
        EXPECT_TRUE(left == content.substr(0, left.size()));
        break;
      }
      case Left::Nothing:
        EXPECT_FALSE(FileExists(partial));
        break;
    }
    // The destination itself is never touched.
    EXPECT_FALSE(FileExists(destination));
    EXPECT_TRUE(server.WaitUntilIdle(std::chrono::seconds(5)));
  }
}

// The signed size bounds every download: a body that runs past it, endless
// or merely long, is stopped there and thrown away, an earlier ".partial"
// file with it, and progress never passes the file's share of the patch.
TEST_F(ObjectDownloadTest, StopsAtTheSignedSize) {
  constexpr std::uint64_t kEndless = 64ull << 30;
  struct Case {
    const char* name;
    void (*serve)(TestResponse&);
  };
  const Case kCases[] = {
      {"endless body without Content-Length",
       [](TestResponse& r) {
         r.length = TestResponse::Length::Absent;
         r.fillerBytes = kEndless;
       }},
      {"endless body with its Content-Length", [](TestResponse& r) { r.fillerBytes = kEndless; }},
      {"one byte too many", [](TestResponse& r) { r.body += 'x'; }},
  };
  unsigned seed = 50;
  for (const auto& c : kCases) {
    SCOPED_TRACE(c.name);
    const std::string content = Bytes(200000, seed++);
    TestResponse served = TestResponse::Ok(content);
    c.serve(served);
    const ManifestFile file = Publish(content, served);
    const std::wstring destination = folder / L"data.pak";
    WriteFileBytes(destination + L".partial", "left by an earlier attempt");

    EXPECT_EQ(Fetch(file, destination), kMismatch);
    EXPECT_FALSE(FileExists(destination + L".partial"));
    for (const std::uint64_t bytes : written) EXPECT_LE(bytes, file.size);
    ASSERT_TRUE(server.WaitUntilIdle());
    EXPECT_LT(server.Requests().back().bodyBytesSent, 64 * kMiB);
  }
}

TEST_F(ObjectDownloadTest, RequestsTheObjectByDigest) {
  const ManifestFile file = Publish(Bytes(1000));
  EXPECT_EQ(Fetch(file, folder / L"a.pak"), L"");
  const auto requests = server.Requests();
  ASSERT_EQ(requests.size(), 1u);
  EXPECT_EQ(requests[0].method, "GET");
  EXPECT_EQ(requests[0].path, "/objects/" + file.sha256);
  EXPECT_FALSE(requests[0].Header("Range"));
}

// A destination deep in folders that do not exist yet gets them.
TEST_F(ObjectDownloadTest, CreatesTheParentFolders) {
  const std::string content = Bytes(5000);
  const std::wstring destination = folder / L"game\\new\\deeper\\still\\file.bin";
  EXPECT_EQ(Fetch(Publish(content), destination), L"");
  EXPECT_TRUE(ReadFileBytes(destination + L".partial") == content);
}

// A folder that cannot be made shows up as a ".partial" file that cannot be
// written, named by its file name alone.
TEST_F(ObjectDownloadTest, UnwritablePartialFileIsNamed) {
  WriteFileBytes(folder / L"game", "a file where a folder should be");
  EXPECT_EQ(Fetch(Publish(Bytes(100)), folder / L"game\\Stonewake.exe"), L"Could not write Stonewake.exe.partial.");
}

// A failed request leaves an earlier ".partial" file as it was; the next
// download that gets an answer starts it from its first byte.
TEST_F(ObjectDownloadTest, PartialFileIsRewrittenOnlyAfterAnAnswer) {
  const std::wstring destination = folder / L"data.pak";
  const std::string earlier = Bytes(400000, 7);
  WriteFileBytes(destination + L".partial", earlier);

  const std::string content = Bytes(1000, 8);
  const ManifestFile file{"game/data.pak", Sha256Hex(content), content.size()};
  EXPECT_EQ(Fetch(file, destination), kNotThere);
  EXPECT_TRUE(ReadFileBytes(destination + L".partial") == earlier);

  Publish(content);
  EXPECT_EQ(Fetch(file, destination), L"");
  EXPECT_TRUE(ReadFileBytes(destination + L".partial") == content);
}

TEST_F(ObjectDownloadTest, DigestMismatchLeavesNoPartialFile) {
  const std::string content = Bytes(250000, 3);
  std::string tampered = content;
  tampered[123456] ^= 1;
  const ManifestFile file = Publish(content, TestResponse::Ok(tampered));
  const std::wstring destination = folder / L"data.pak";
  EXPECT_EQ(Fetch(file, destination), kMismatch);
  EXPECT_FALSE(FileExists(destination + L".partial"));
  EXPECT_FALSE(FileExists(destination));
}

// DownloadToFile's own report: bytes written so far and the response's
// Content-Length, 0 when the server named none.
TEST_F(ObjectDownloadTest, ByteProgressCarriesTheContentLength) {
  const std::string content = Bytes(3 * kMiB, 30);
  for (const bool named : {true, false}) {
    SCOPED_TRACE(named ? "Content-Length named" : "no Content-Length");
    TestResponse served = TestResponse::Ok(content);
    if (!named) served.length = TestResponse::Length::Absent;
    server.Set("/objects/x", served);
    std::vector<std::pair<std::uint64_t, std::uint64_t>> calls;
    EXPECT_TRUE(
        DownloadToFile(server.Url("/objects/x"), folder / L"x.partial", UINT64_MAX,
                       [&](std::uint64_t written, std::uint64_t length) { calls.emplace_back(written, length); }));
    ASSERT_GT(calls.size(), 1u);
    EXPECT_EQ(calls.back().first, content.size());
    for (std::size_t i = 0; i < calls.size(); ++i) {
      EXPECT_EQ(calls[i].second, named ? content.size() : 0u);
      if (i > 0) {
        EXPECT_LT(calls[i - 1].first, calls[i].first);
      }
    }
  }
}

// A ".partial" holding the object's first bytes, resumed: the server's
// answer to "Range: bytes=N-" decides. Every case ends with the verified
// object, or with a sentence and the kept bytes left as they were, never
// with other bytes kept; a whole fetch follows only an answer that says the
// range itself is wrong. A passing server error (a CDN's busy minute) must
// not cost the bytes already kept.
TEST_F(ObjectDownloadTest, ResumesFromTheKeptBytesByTheServersAnswer) {
  constexpr std::size_t kSize = 300000;
  constexpr std::size_t kKept = 100000;
  const std::string rangeFromKept =
      "bytes " + std::to_string(kKept) + "-" + std::to_string(kSize - 1) + "/" + std::to_string(kSize);
  enum class Then { Rest, Whole, Fails, Kept };
  struct Case {
    const char* name;
    std::function<TestResponse(const std::string& content)> answer;
    Then then;
    std::wstring message = L"";
  };
  const auto partialContent = [](std::string body, std::string range) {
    TestResponse r = TestResponse::Ok(std::move(body));
    r.status = 206;
    r.headers = {"Content-Range: " + range};
    return r;
  };
  const Case kCases[] = {
      {"206 with the rest", [&](const std::string& c) { return partialContent(c.substr(kKept), rangeFromKept); },
       Then::Rest},
      {"200 with the whole object",
       [](const std::string& c) {
         TestResponse r = TestResponse::Ok(c);
         r.answersRanges = false;
         return r;
       },
       Then::Whole},
      {"206 shifted by a byte",
       [&](const std::string& c) {
         return partialContent(c.substr(kKept + 1), "bytes " + std::to_string(kKept + 1) + "-" +
                                                        std::to_string(kSize - 1) + "/" + std::to_string(kSize));
       },
       Then::Whole},
      {"206 of another total",
       [&](const std::string& c) {
         return partialContent(c.substr(kKept), "bytes " + std::to_string(kKept) + "-" + std::to_string(kSize - 1) +
                                                    "/" + std::to_string(kSize + 1));
       },
       Then::Whole},
      {"206 without Content-Range",
       [&](const std::string& c) {
         TestResponse r = TestResponse::Ok(c.substr(kKept));
         r.status = 206;
         return r;
       },
       Then::Whole},
      {"416", [](const std::string&) { return TestResponse::Status(416); }, Then::Whole},
      {"404 to the range", [](const std::string&) { return TestResponse::Status(404); }, Then::Kept, kNotThere},
      {"429", [](const std::string&) { return TestResponse::Status(429); }, Then::Kept, kNotThere},
      {"500", [](const std::string&) { return TestResponse::Status(500); }, Then::Kept, kNotThere},
      {"502", [](const std::string&) { return TestResponse::Status(502); }, Then::Kept, kNotThere},
      {"503", [](const std::string&) { return TestResponse::Status(503); }, Then::Kept, kNotThere},
      {"504", [](const std::string&) { return TestResponse::Status(504); }, Then::Kept, kNotThere},
      {"206 running past the signed size",
       [&](const std::string& c) { return partialContent(c.substr(kKept) + "appended", rangeFromKept); }, Then::Fails,
       kMismatch},
  };
  unsigned seed = 60;
  for (const auto& c : kCases) {
    SCOPED_TRACE(c.name);
    const std::string content = Bytes(kSize, seed++);
    const ManifestFile file = Publish(content);
    const std::string object = "/objects/" + file.sha256;
    server.SetForRange(object, c.answer(content));
    const std::wstring destination = folder / (L"range" + std::to_wstring(seed) + L"\\data.pak");
    const std::wstring partial = destination + L".partial";
    WriteFileBytes(partial, content.substr(0, kKept));

    HttpSession session;
    std::vector<std::uint64_t> written;
    const std::wstring message = testing::ErrorMessageOf([&] {
      FetchChecked(
          session, server.baseUrl(), file, destination,
          [&](std::uint64_t bytes, std::uint64_t) { written.push_back(bytes); }, true);
    });
    EXPECT_EQ(message, c.message);
    if (c.then == Then::Fails) {
      EXPECT_FALSE(FileExists(partial));
    } else if (c.then == Then::Kept) {
      EXPECT_TRUE(ReadFileBytes(partial) == content.substr(0, kKept));
    } else {
      EXPECT_TRUE(ReadFileBytes(partial) == content);
    }
    // The first request asks for the rest; after an answer that is neither
    // the rest nor the whole, a second one asks for the whole object.
    const bool refetched = c.then == Then::Whole && c.answer(content).status != 200;
    const std::vector<testing::RecordedRequest> requests = server.Requests();
    ASSERT_EQ(server.RequestCount(object), refetched ? 2u : 1u);
    EXPECT_EQ(requests[requests.size() - (refetched ? 2 : 1)].Header("Range"), "bytes=" + std::to_string(kKept) + "-");
    if (refetched) {
      EXPECT_EQ(requests.back().Header("Range"), std::nullopt);
    }
    // The kept bytes count as done from the start.
    ASSERT_FALSE(written.empty());
    EXPECT_EQ(written.front(), kKept);
    server.Set(object, TestResponse::Status(404));
    EXPECT_TRUE(server.WaitUntilIdle(std::chrono::seconds(5)));
  }
}

// A connection dropped again in the middle of the rest keeps what came, and
// the next attempt asks for what is still missing.
TEST_F(ObjectDownloadTest, ADroppedRestIsResumedAgain) {
  constexpr std::size_t kSize = 400000;
  const std::string content = Bytes(kSize, 70);
  const ManifestFile file = Publish(content);
  const std::string object = "/objects/" + file.sha256;
  const std::wstring destination = folder / L"data.pak";
  const std::wstring partial = destination + L".partial";
  WriteFileBytes(partial, content.substr(0, 100000));

  TestResponse dropped = TestResponse::Ok(content.substr(100000));
  dropped.status = 206;
  dropped.headers = {"Content-Range: bytes 100000-399999/400000"};
  dropped.resetAfter = 150000;
  server.SetForRange(object, dropped);
  HttpSession session;
  const auto fetch = [&] {
    return testing::ErrorMessageOf([&] {
      FetchChecked(
          session, server.baseUrl(), file, destination, [](std::uint64_t, std::uint64_t) {}, true);
    });
  };
  const std::wstring cut = fetch();
  EXPECT_TRUE(cut == kInterrupted || cut == kCutShort) << std::string(cut.begin(), cut.end());
  const std::string left = ReadFileBytes(partial);
  ASSERT_GT(left.size(), 100000u);
  ASSERT_LT(left.size(), kSize);
  EXPECT_TRUE(left == content.substr(0, left.size()));

  TestResponse rest = TestResponse::Ok(content.substr(left.size()));
  rest.status = 206;
  rest.headers = {"Content-Range: bytes " + std::to_string(left.size()) + "-399999/400000"};
  server.SetForRange(object, rest);
  EXPECT_EQ(fetch(), L"");
  EXPECT_TRUE(ReadFileBytes(partial) == content);
  EXPECT_EQ(server.Requests().back().Header("Range"), "bytes=" + std::to_string(left.size()) + "-");
}

// A ".partial" of the full size is verified without a request and returned
// when it matches; of the full size but wrong, it is deleted and the object
// fetched whole.
TEST_F(ObjectDownloadTest, AFullSizePartialNeedsNoRequestWhenRight) {
  const std::string content = Bytes(200000, 80);
  const ManifestFile file = Publish(content);
  const std::wstring destination = folder / L"data.pak";
  const std::wstring partial = destination + L".partial";
  HttpSession session;
  for (const bool right : {true, false}) {
    SCOPED_TRACE(right ? "right" : "wrong");
    std::string kept = content;
    if (!right) kept[1000] ^= 1;
    WriteFileBytes(partial, kept);
    const std::size_t before = server.Requests().size();
    EXPECT_EQ(testing::ErrorMessageOf([&] {
                FetchChecked(
                    session, server.baseUrl(), file, destination, [](std::uint64_t, std::uint64_t) {}, true);
              }),
              L"");
    EXPECT_TRUE(ReadFileBytes(partial) == content);
    EXPECT_EQ(server.Requests().size() - before, right ? 0u : 1u);
    if (!right) {
      EXPECT_EQ(server.Requests().back().Header("Range"), std::nullopt);
    }
  }
}

// A disk that fills up mid-download: the rest of the body is still read and
// reported, and the download ends as cut short. It needs a file size limit
// on the process, which its own test entry sets (STONEWAKE_FILE_SIZE_LIMIT
// names it); elsewhere it is skipped.
TEST_F(ObjectDownloadTest, FullDiskEndsCutShortAfterReadingTheBody) {
  const char* limitText = std::getenv("STONEWAKE_FILE_SIZE_LIMIT");
  if (!limitText) {
    GTEST_SKIP() << "runs under a file size limit in its own test entry";
  }
  const std::uint64_t limit = std::strtoull(limitText, nullptr, 10);

  const std::string content = Bytes(static_cast<std::size_t>(limit * 4), 40);
  const ManifestFile file = Publish(content);
  const std::wstring destination = folder / L"data.pak";
  EXPECT_EQ(Fetch(file, destination), kCutShort);

  ASSERT_FALSE(written.empty());
  EXPECT_EQ(written.back(), content.size());
  ASSERT_TRUE(server.WaitUntilIdle());
  EXPECT_EQ(server.Requests().at(0).bodyBytesSent, content.size());
  // What a failed write left is not known to be the object's beginning.
  EXPECT_FALSE(FileExists(destination + L".partial"));
}

}  // namespace
}  // namespace launcher
