// A changed large file assembled from the old file's chunks plus byte ranges,
// through the patch as a player's launcher runs it, against the test server
// with the chunk index the publisher would write beside the object.
#include "engine/game_file_fetch.h"

#include <windows.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <functional>
#include <string>
#include <vector>

#include "core/chunk_index.h"
#include "core/chunker.h"
#include "engine/patch.h"
#include "engine/release_check.h"
#include "test_support/error_message.h"
#include "test_support/pattern_bytes.h"
#include "test_support/temp_folder.h"
#include "test_support/test_release.h"
#include "test_support/test_server.h"

namespace launcher {
namespace {

using testing::ChunkIndexTextOf;
using testing::FileExists;
using testing::InstallPath;
using testing::PublishRelease;
using testing::ReadFileBytes;
using testing::RecordedRequest;
using testing::Sha256Hex;
using testing::TempFolder;
using testing::TestRelease;
using testing::TestResponse;
using testing::TestServer;
using testing::WriteFileBytes;

constexpr char kArchive[] = "game/data/archive.pak";
constexpr std::size_t kMiB = 1 << 20;
const std::wstring kNotThere = L"The release server did not have what the launcher asked for.";
const std::wstring kInterrupted = L"The download was interrupted. Check your internet connection and try again.";
const std::wstring kCutShort = L"The download was cut short. Check your internet connection and try again.";

std::string Bytes(std::size_t size, unsigned seed) { return testing::PatternBytes(size, seed); }

// One edit between two builds of an archive.
struct Edit {
  enum Kind { Replace, Insert, Remove } kind;
  std::size_t at;
  std::size_t size;
};

std::string Edited(std::string archive, const std::vector<Edit>& edits, unsigned seed) {
  for (const Edit& edit : edits) {
    switch (edit.kind) {
      case Edit::Replace:
        archive.replace(edit.at, edit.size, Bytes(edit.size, seed++));
        break;
      case Edit::Insert:
        archive.insert(edit.at, Bytes(edit.size, seed++));
        break;
      case Edit::Remove:
        archive.erase(edit.at, edit.size);
        break;
    }
  }
  return archive;
}

TestRelease ArchiveRelease(const std::string& version, const std::string& content) {
  TestRelease release;
  release.version = version;
  release.files = {{"game/Stonewake.exe", "the game " + version}, {kArchive, content}};
  return release;
}

// What the server sent for one object.
struct Served {
  std::size_t ranges = 0;   // requests with a Range header
  std::size_t wholes = 0;   // requests without
  std::uint64_t bytes = 0;  // body bytes, both kinds
};

class AssemblyTest : public ::testing::Test {
 public:
  // Installs `old` as release 1.0 and serves release 2.0 with `content`,
  // with the chunk index of the new object and, when asked, of the old one
  // (a tree that kept the object of the build installed).
  void Prepare(const std::string& old, const std::string& content, bool oldIndex = false) {
    testing::WriteInstall(install.path(), ArchiveRelease("1.0", old), "1.0");
    PublishRelease(server, ArchiveRelease("2.0", content));
    object = "/objects/" + Sha256Hex(content);
    oldObject = "/objects/" + Sha256Hex(old);
    server.Set(object + ".chunks", TestResponse::Ok(ChunkIndexTextOf(content)));
    server.Set(oldObject + ".chunks", oldIndex ? TestResponse::Ok(ChunkIndexTextOf(old)) : TestResponse::Status(404));
    requestsBefore = server.Requests().size();
  }

  // Runs the patch; the error's sentence, or empty.
  std::wstring Patch() {
    percents.clear();
    const PatchProgress progress = [this](const std::wstring&, std::int32_t percent) { percents.push_back(percent); };
    return testing::ErrorMessageOf([&] {
      ApplyRelease(install.path(), CheckRelease(install.path(), server.baseUrl()), progress, server.baseUrl());
    });
  }

  std::size_t RequestsSince(const std::string& path) {
    const std::vector<RecordedRequest> requests = server.Requests();
    return static_cast<std::size_t>(std::count_if(requests.begin() + static_cast<std::ptrdiff_t>(requestsBefore),
                                                  requests.end(),
                                                  [&](const RecordedRequest& r) { return r.path == path; }));
  }

  Served ServedForObject() {
    EXPECT_TRUE(server.WaitUntilIdle(std::chrono::seconds(10)));
    const std::vector<RecordedRequest> requests = server.Requests();
    Served served;
    for (std::size_t i = requestsBefore; i < requests.size(); ++i) {
      if (requests[i].path != object) continue;
      ++(requests[i].Header("Range") ? served.ranges : served.wholes);
      served.bytes += requests[i].bodyBytesSent;
    }
    return served;
  }

  std::wstring Archive() const { return InstallPath(install.path(), kArchive); }

  TestServer server;
  TempFolder install;
  std::string object;
  std::string oldObject;
  std::size_t requestsBefore = 0;
  std::vector<std::int32_t> percents;
};

// Edits between two builds, each ending with the new build byte for byte:
// assembled from the old file plus ranges when the old file holds some of
// its chunks, fetched whole when it holds none or the file is too small to
// have an index. The bytes fetched stay near what changed.
TEST_F(AssemblyTest, EditsEndByteIdentical) {
  const std::string base = Bytes(6 * kMiB, 1);
  const std::size_t threshold = static_cast<std::size_t>(kChunkIndexFromBytes);
  const std::string atThreshold = Bytes(threshold, 2);
  struct Case {
    const char* name;
    std::string old;
    std::string content;
    bool assembled;
    std::uint64_t mostFetched;  // body bytes of the object's requests
  };
  const Case kCases[] = {
      {"blocks replaced", base,
       Edited(base,
              {{Edit::Replace, 1 * kMiB, 20000}, {Edit::Replace, 3 * kMiB, 5000}, {Edit::Replace, 5 * kMiB, 30000}},
              10),
       true, 1 * kMiB + 512 * 1024},
      {"bytes inserted at the start", base, Edited(base, {{Edit::Insert, 0, 1000}}, 20), true, 512 * 1024},
      {"bytes removed at the end", base, Edited(base, {{Edit::Remove, base.size() - 300000, 300000}}, 30), true,
       512 * 1024},
      {"the new file smaller", base, Edited(base, {{Edit::Remove, 1 * kMiB, 2 * kMiB}}, 40), true, 512 * 1024},
      {"the new file larger", base, Edited(base, {{Edit::Insert, 2 * kMiB, 3 * kMiB}}, 50), true,
       3 * kMiB + 512 * 1024},
      {"everything changed", base, Bytes(base.size(), 60), false, base.size()},
      {"nothing reusable: a small old file", "an old file that shares nothing", base, false, base.size()},
      {"exactly at the threshold", Edited(atThreshold, {{Edit::Replace, kMiB, 10000}}, 70), atThreshold, true,
       512 * 1024},
      {"a byte below the threshold", Edited(atThreshold, {{Edit::Replace, kMiB, 10000}}, 80), atThreshold.substr(1),
       false, threshold - 1},
  };
  for (const auto& c : kCases) {
    SCOPED_TRACE(c.name);
    Prepare(c.old, c.content, true);

    EXPECT_EQ(Patch(), L"");
    EXPECT_TRUE(ReadFileBytes(Archive()) == c.content);
    EXPECT_FALSE(FileExists(Archive() + L".partial"));
    const Served served = ServedForObject();
    EXPECT_EQ(served.ranges > 0, c.assembled);
    EXPECT_EQ(served.wholes, c.assembled ? 0u : 1u);
    EXPECT_LE(served.bytes, c.mostFetched);
    // The old file's chunks come from its own index, which the check's
    // digest of it names.
    if (c.assembled) {
      EXPECT_EQ(RequestsSince(oldObject + ".chunks"), 1u);
    }
    // Copied and fetched bytes count alike, the figure never goes back, and
    // the patch ends at 100.
    EXPECT_TRUE(std::is_sorted(percents.begin(), percents.end()));
    ASSERT_FALSE(percents.empty());
    EXPECT_EQ(percents.back(), 100);
  }
}

// The index is not signed, and the server may be broken: whatever the index
// says and whatever a range brings, the right file ends in place, fetched
// whole at most once, and nothing is said to the player.
TEST_F(AssemblyTest, HostileIndexesAndAnswersEndWithTheRightFile) {
  const std::string old = Bytes(6 * kMiB, 100);
  const std::string content = Edited(old, {{Edit::Replace, 2 * kMiB, 40000}, {Edit::Replace, 4 * kMiB, 40000}}, 110);
  const std::string digest = Sha256Hex(content);
  const std::string size = std::to_string(content.size());
  const std::string honest = ChunkIndexTextOf(content);
  // The index of the old build, renamed to the new object: every chunk line
  // describes the old bytes, so all of them are found in the old file.
  std::string oldChunks = ChunkIndexTextOf(old);
  oldChunks.replace(oldChunks.find("object ") + 7, 64, digest);
  // The honest index with its lines changed: `change` gets them without
  // their line ends, the header first.
  const auto changedLines = [&](const std::function<void(std::vector<std::string>&)>& change) {
    std::vector<std::string> lines;
    for (std::size_t at = 0; at < honest.size();) {
      const std::size_t end = honest.find('\n', at);
      lines.push_back(honest.substr(at, end - at));
      at = end + 1;
    }
    change(lines);
    std::string text;
    for (const std::string& line : lines) text += line + "\n";
    return text;
  };
  const auto replaced = [&](const std::string& from, const std::string& to) {
    std::string text = honest;
    text.replace(text.find(from), from.size(), to);
    return text;
  };
  constexpr std::size_t kFirstChunkLine = 3;  // after the header, object and rule lines
  const std::string objectLine = "object " + digest + " " + size;
  // The old build's own index with its first two chunks swapped: it places
  // them where the old file holds other bytes.
  std::string swappedOld = ChunkIndexTextOf(old);
  {
    std::size_t first = 0;
    for (int line = 0; line < 3; ++line) first = swappedOld.find('\n', first) + 1;
    const std::size_t second = swappedOld.find('\n', first) + 1;
    const std::size_t third = swappedOld.find('\n', second) + 1;
    swappedOld = swappedOld.substr(0, first) + swappedOld.substr(second, third - second) +
                 swappedOld.substr(first, second - first) + swappedOld.substr(third);
  }
  std::string corrupt = content;
  corrupt[2 * kMiB + 100] ^= 0x55;

  struct Case {
    const char* name;
    std::function<void(TestServer&, const std::string& object)> serve;
    std::size_t wholes;
  };
  const auto index = [](std::string text) {
    return [text](TestServer& server, const std::string& object) {
      server.Set(object + ".chunks", TestResponse::Ok(text));
    };
  };
  const Case kCases[] = {
      {"malformed", index("stonewake-chunks 1\nnot an index\n"), 1},
      {"another object's digest inside", index(replaced(objectLine, "object " + Sha256Hex(old) + " " + size)), 1},
      {"an index claiming 100 GB", index(replaced(objectLine, "object " + digest + " 107374182400")), 1},
      {"the old build's chunks under the new name", index(oldChunks), 1},
      {"a chunk digest that lies", index(changedLines([&](std::vector<std::string>& lines) {
         std::string& line = lines[kFirstChunkLine];
         line.back() = line.back() == '0' ? '1' : '0';
       })),
       1},
      {"overlapping chunks: one listed twice", index(changedLines([&](std::vector<std::string>& lines) {
         lines.insert(lines.begin() + kFirstChunkLine + 1, lines[kFirstChunkLine]);
       })),
       1},
      {"a chunk missing: the chunks end before the object",
       index(changedLines([&](std::vector<std::string>& lines) { lines.erase(lines.begin() + kFirstChunkLine + 2); })),
       1},
      {"the last chunk running past the object", index(changedLines([&](std::vector<std::string>& lines) {
         std::string& last = lines[lines.size() - 2];
         const std::size_t space = last.find(' ');
         last = std::to_string(std::stoull(last.substr(0, space)) + 1) + last.substr(space);
       })),
       1},
      {"larger than its object allows", index(honest + std::string(2 * kMiB, '#')), 1},
      {"a 200 to a range",
       [&](TestServer& server, const std::string& object) {
         TestResponse whole = TestResponse::Ok(content);
         whole.answersRanges = false;
         server.SetForRange(object, whole);
       },
       1},
      {"a 206 of the wrong range",
       [&](TestServer& server, const std::string& object) {
         TestResponse shifted = TestResponse::Ok(content.substr(0, 1000));
         shifted.status = 206;
         shifted.headers = {"Content-Range: bytes 0-999/" + size};
         shifted.answersRanges = false;
         server.SetForRange(object, shifted);
       },
       1},
      {"a chunk fetched with other bytes",
       [&](TestServer& server, const std::string& object) { server.SetForRange(object, TestResponse::Ok(corrupt)); },
       1},
      {"the old build's own index lies",
       [&](TestServer& server, const std::string&) { server.Set(oldObject + ".chunks", TestResponse::Ok(swappedOld)); },
       1},
      {"no index at all",
       [](TestServer& server, const std::string& object) { server.Set(object + ".chunks", TestResponse::Status(404)); },
       1},
  };
  for (const auto& c : kCases) {
    SCOPED_TRACE(c.name);
    Prepare(old, content);
    c.serve(server, object);

    EXPECT_EQ(Patch(), L"");
    EXPECT_TRUE(ReadFileBytes(Archive()) == content);
    EXPECT_FALSE(FileExists(Archive() + L".partial"));
    EXPECT_EQ(ServedForObject().wholes, c.wholes);
    server.SetForRange(object, TestResponse::Ok(content));
  }
}

// An old file damaged on disk since the check (a failing disk changes bytes
// without a trace): its damaged chunks are not found and are fetched, so the
// right file ends in place without a whole download.
TEST_F(AssemblyTest, ADamagedOldFileStillEndsRight) {
  const std::string old = Bytes(6 * kMiB, 200);
  const std::string content = Edited(old, {{Edit::Replace, 1 * kMiB, 30000}}, 210);
  Prepare(old, content);
  std::string damaged = old;
  for (std::size_t at = 3 * kMiB; at < 3 * kMiB + 200000; at += 50000) damaged[at] ^= 0x20;
  WriteFileBytes(Archive(), damaged);

  EXPECT_EQ(Patch(), L"");
  EXPECT_TRUE(ReadFileBytes(Archive()) == content);
  EXPECT_LE(ServedForObject().wholes, 1u);
}

// A server error or a dropped connection in the middle of an assembly fails
// the patch with today's sentence, as for a whole download: the old file
// stays in place, the ".partial" begins the new object, and the next patch
// goes on from it rather than from the start, still without the whole
// object.
TEST_F(AssemblyTest, ACutAssemblyGoesOnFromWhereItStopped) {
  const std::string old = Bytes(8 * kMiB, 300);
  const std::string content = Edited(
      old, {{Edit::Replace, 1 * kMiB, 200000}, {Edit::Insert, 4 * kMiB, 300000}, {Edit::Replace, 7 * kMiB, 200000}},
      310);
  TestResponse dropped = TestResponse::Ok(content);
  dropped.resetAfter = 100000;
  struct Case {
    const char* name;
    TestResponse range;  // the answer to every range request
    std::vector<std::wstring> sentences;
  };
  const Case kCases[] = {
      {"a 503", TestResponse::Status(503), {kNotThere}},
      {"a connection dropped within a range", dropped, {kInterrupted, kCutShort}},
  };
  for (const auto& c : kCases) {
    SCOPED_TRACE(c.name);
    Prepare(old, content);
    server.SetForRange(object, c.range);
    const std::wstring sentence = Patch();
    EXPECT_TRUE(std::find(c.sentences.begin(), c.sentences.end(), sentence) != c.sentences.end())
        << std::string(sentence.begin(), sentence.end());
    EXPECT_TRUE(ReadFileBytes(Archive()) == old);
    const std::string kept = ReadFileBytes(Archive() + L".partial");
    EXPECT_GT(kept.size(), 0u);
    EXPECT_TRUE(content.starts_with(kept));
    EXPECT_EQ(ServedForObject().wholes, 0u);

    server.SetForRange(object, TestResponse::Ok(content));
    requestsBefore = server.Requests().size();
    EXPECT_EQ(Patch(), L"");
    EXPECT_TRUE(ReadFileBytes(Archive()) == content);
    EXPECT_EQ(ServedForObject().wholes, 0u);
    // Nothing before the chunk the kept bytes end in is asked for again.
    const std::vector<RecordedRequest> requests = server.Requests();
    for (std::size_t i = requestsBefore; i < requests.size(); ++i) {
      if (requests[i].path != object) continue;
      const std::string range = requests[i].Header("Range").value_or("bytes=0-");
      EXPECT_GE(std::stoull(range.substr(6)) + kChunkRule.max, kept.size()) << range;
    }
  }
}

}  // namespace
}  // namespace launcher
