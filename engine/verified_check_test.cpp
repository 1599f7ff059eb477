// The check with the record of verified files: what it may skip, what it
// must still find, and what the record may vouch for.
#include <windows.h>

#include <gtest/gtest.h>

#include <functional>
#include <set>
#include <string>
#include <vector>

#include "core/install_layout.h"
#include "core/paths.h"
#include "engine/patch.h"
#include "engine/release_check.h"
#include "engine/verified_files.h"
#include "files/file_handle.h"
#include "test_support/error_message.h"
#include "test_support/temp_folder.h"
#include "test_support/test_release.h"
#include "test_support/test_server.h"

namespace launcher {
namespace {

using testing::InstallPath;
using testing::PublishRelease;
using testing::ReadFileBytes;
using testing::ReleaseFile;
using testing::Sha256Hex;
using testing::TempFolder;
using testing::TestRelease;
using testing::TestServer;
using testing::WriteFileBytes;
using testing::WriteInstall;

const TestRelease kRelease{"1.4",
                           {{"game/Stonewake.exe", "game program bytes"},
                            {"game/data/base.pak", "base pack bytes, a little longer"},
                            {"game/data/maps/one.map", "the first map"},
                            {"game/data/maps/two.map", "the second map"}}};

void SetLastWrite(const std::wstring& path, const FILETIME& time);

// Last written an hour ago, long settled: the check records them.
void AgeFiles(const std::wstring& install, const TestRelease& release) {
  const std::uint64_t hourAgo = FileTimeNow() - 3600ull * 10'000'000;
  const FILETIME time{static_cast<DWORD>(hourAgo), static_cast<DWORD>(hourAgo >> 32)};
  for (const ReleaseFile& file : release.files) SetLastWrite(InstallPath(install, file.path), time);
}

FILETIME LastWriteOf(const std::wstring& path) {
  WIN32_FILE_ATTRIBUTE_DATA data{};
  GetFileAttributesExW(path.c_str(), GetFileExInfoStandard, &data);
  return data.ftLastWriteTime;
}

void SetLastWrite(const std::wstring& path, const FILETIME& time) {
  FileHandle file(CreateFileW(path.c_str(), FILE_WRITE_ATTRIBUTES, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                              OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr));
  ASSERT_TRUE(file);
  ASSERT_TRUE(SetFileTime(file.get(), nullptr, nullptr, &time));
}

// Other bytes of the same length, and the old last-write time put back:
// nothing in the stamp shows the change.
void ReplaceKeepingStamp(const std::wstring& path) {
  const FILETIME before = LastWriteOf(path);
  std::string bytes = ReadFileBytes(path);
  for (char& c : bytes) c = static_cast<char>(c ^ 0x5a);
  WriteFileBytes(path, bytes);
  SetLastWrite(path, before);
}

std::set<std::string> FetchPaths(const ReleaseStatus& status) {
  std::set<std::string> paths;
  for (const ManifestFile& file : status.fetch) paths.insert(file.path);
  return paths;
}

// Public: the table rows change the install through it.
class VerifiedCheckTest : public ::testing::Test {
 public:
  void SetUp() override {
    PublishRelease(server, kRelease);
    WriteInstall(install, kRelease, "1.4");
    AgeFiles(install, kRelease);
  }

  // One start's check as the launcher runs it, hashing again at most
  // `rehashBytes` of the files verified longest ago.
  ReleaseStatus Start(std::uint64_t rehashBytes = 0) {
    VerifiedManifestMemory memory;
    figures = {};
    figures.rehashBytes = rehashBytes;
    return CheckReleaseRecorded(install, memory, figures, server.baseUrl());
  }

  std::wstring PathOf(std::size_t index) const { return InstallPath(install, kRelease.files[index].path); }
  std::wstring RecordPath() const { return JoinPath(install, kVerifiedRecordName); }

  TestServer server;
  TempFolder folder;
  std::wstring install = folder / L"Stonewake";
  FileVerification figures;
};

TEST_F(VerifiedCheckTest, AnUnchangedInstallIsCheckedWithoutHashing) {
  EXPECT_TRUE(Start().fetch.empty());
  EXPECT_EQ(figures.hashedFiles, kRelease.files.size()) << "nothing known: every file is hashed";
  EXPECT_TRUE(Start().fetch.empty());
  EXPECT_EQ(figures.hashedFiles, 0u);
  EXPECT_EQ(ReadVerifiedRecord(install).entries.size(), kRelease.files.size());
}

// Every change made through the file system is found by the next check,
// whatever the record says; a change that leaves the stamp as it was is
// found by the rolling re-hash or by --verify.
TEST_F(VerifiedCheckTest, FindsWhatChangedSinceTheRecord) {
  struct Case {
    const char* name;
    std::function<void(VerifiedCheckTest&)> change;
    const wchar_t* error;  // the check's sentence, or nullptr
    bool foundAtOnce;
  };
  const Case kCases[] = {
      {"rewritten, same size, other bytes",
       [](VerifiedCheckTest& t) {
         std::string bytes = ReadFileBytes(t.PathOf(3));
         bytes[0] ^= 1;
         WriteFileBytes(t.PathOf(3), bytes);
       },
       nullptr, true},
      {"truncated", [](VerifiedCheckTest& t) { WriteFileBytes(t.PathOf(3), ReadFileBytes(t.PathOf(3)).substr(0, 4)); },
       nullptr, true},
      {"renamed away",
       [](VerifiedCheckTest& t) { ASSERT_TRUE(MoveFileW(t.PathOf(3).c_str(), (t.PathOf(3) + L".bak").c_str())); },
       nullptr, true},
      {"turned into a folder",
       [](VerifiedCheckTest& t) {
         ASSERT_TRUE(DeleteFileW(t.PathOf(3).c_str()));
         ASSERT_TRUE(CreateDirectoryW(t.PathOf(3).c_str(), nullptr));
       },
       L"Could not read two.map.", true},
      {"the record's digest is another release's",
       [](VerifiedCheckTest& t) {
         // The install and its record are of 1.3; the release now is 1.4.
         TestRelease older = kRelease;
         older.version = "1.3";
         older.files[3].content = "the second map as it was";
         WriteFileBytes(t.PathOf(3), older.files[3].content);
         PublishRelease(t.server, older);
         t.Start();
         PublishRelease(t.server, kRelease);
       },
       nullptr, true},
      {"replaced by other bytes with the old time put back",
       [](VerifiedCheckTest& t) { ReplaceKeepingStamp(t.PathOf(3)); }, nullptr, false},
  };
  for (const Case& c : kCases) {
    SCOPED_TRACE(c.name);
    TempFolder caseFolder;
    const std::wstring caseInstall = caseFolder / L"Stonewake";
    WriteInstall(caseInstall, kRelease, "1.4");
    AgeFiles(caseInstall, kRelease);
    install = caseInstall;
    PublishRelease(server, kRelease);
    ASSERT_TRUE(Start().fetch.empty());
    c.change(*this);

    if (c.error) {
      EXPECT_EQ(testing::ErrorMessageOf([&] { Start(); }), c.error);
      continue;
    }
    const std::set<std::string> expected{kRelease.files[3].path};
    EXPECT_EQ(FetchPaths(Start()), c.foundAtOnce ? expected : std::set<std::string>{});
    if (c.foundAtOnce) continue;

    // Each start hashes again one file (each counts as at least
    // kRehashFileBytes), the damaged one last in list order: found within
    // as many starts as the install has files.
    std::size_t starts = 1;
    while (FetchPaths(Start(kRehashFileBytes)).empty() && starts <= kRelease.files.size()) ++starts;
    EXPECT_LE(starts, kRelease.files.size());
    EXPECT_GT(starts, 1u);

    ForgetVerifiedFiles(install);
    EXPECT_EQ(FetchPaths(Start()), expected) << "--verify finds it at once";
  }
}

TEST_F(VerifiedCheckTest, FilesLargerThanTheShareAreHashedAloneAtEveryFewStarts) {
  ASSERT_TRUE(Start().fetch.empty());
  ReplaceKeepingStamp(PathOf(3));
  // Every file counts as kRehashFileBytes, twice the share: each is hashed
  // alone at every second start, so the last is found within 2 x 4 starts.
  std::size_t starts = 0;
  std::size_t idle = 0;
  for (bool found = false; !found && starts < 16;) {
    ++starts;
    found = !Start(kRehashFileBytes / 2).fetch.empty();
    EXPECT_LE(figures.hashedFiles, 1u);
    if (figures.hashedFiles == 0) ++idle;
  }
  EXPECT_LE(starts, 2 * kRelease.files.size());
  EXPECT_GT(starts, kRelease.files.size());
  EXPECT_GE(idle, kRelease.files.size() - 1);
}

TEST_F(VerifiedCheckTest, ARecordThatCannotBeTrustedMeansEverythingIsHashed) {
  struct Case {
    const char* name;
    std::function<void(VerifiedCheckTest&)> spoil;
  };
  const Case kCases[] = {
      {"missing", [](VerifiedCheckTest& t) { DeleteFileW(t.RecordPath().c_str()); }},
      {"empty", [](VerifiedCheckTest& t) { WriteFileBytes(t.RecordPath(), ""); }},
      {"cut short",
       [](VerifiedCheckTest& t) {
         const std::string text = ReadFileBytes(t.RecordPath());
         WriteFileBytes(t.RecordPath(), text.substr(0, text.size() - 5));
       }},
      {"damaged in the middle",
       [](VerifiedCheckTest& t) {
         std::string text = ReadFileBytes(t.RecordPath());
         text[text.size() / 2] = '\0';
         WriteFileBytes(t.RecordPath(), text);
       }},
      {"another format", [](VerifiedCheckTest& t) { WriteFileBytes(t.RecordPath(), "stonewake-manifest 1\nend\n"); }},
      {"a folder in its place",
       [](VerifiedCheckTest& t) {
         DeleteFileW(t.RecordPath().c_str());
         CreateDirectoryW(t.RecordPath().c_str(), nullptr);
       }},
  };
  for (const Case& c : kCases) {
    SCOPED_TRACE(c.name);
    TempFolder caseFolder;
    install = caseFolder / L"Stonewake";
    WriteInstall(install, kRelease, "1.4");
    AgeFiles(install, kRelease);
    ASSERT_TRUE(Start().fetch.empty());
    c.spoil(*this);
    for (int start = 0; start < 2; ++start) {
      EXPECT_EQ(testing::ErrorMessageOf([&] { EXPECT_TRUE(Start().fetch.empty()); }), L"");
      // A record that cannot be written (a folder in its place) leaves
      // every start hashing everything.
      const bool written = GetFileAttributesW(RecordPath().c_str()) != INVALID_FILE_ATTRIBUTES &&
                           !(GetFileAttributesW(RecordPath().c_str()) & FILE_ATTRIBUTE_DIRECTORY);
      const std::uint64_t expected = start == 1 && written ? 0 : kRelease.files.size();
      EXPECT_EQ(figures.hashedFiles, expected);
    }
  }
}

TEST_F(VerifiedCheckTest, ARecordFromAnotherInstallVouchesForNothingHere) {
  ASSERT_TRUE(Start().fetch.empty());
  const std::string record = ReadFileBytes(RecordPath());
  TempFolder other;
  const std::wstring otherInstall = other / L"Stonewake";
  WriteInstall(otherInstall, kRelease, "1.4");
  AgeFiles(otherInstall, kRelease);
  WriteFileBytes(JoinPath(otherInstall, kVerifiedRecordName), record);
  install = otherInstall;
  // The same contents written at other moments: no stamp agrees.
  EXPECT_TRUE(Start().fetch.empty());
  EXPECT_EQ(figures.hashedFiles, kRelease.files.size());
}

TEST_F(VerifiedCheckTest, APatchVouchesOnlyForWhatItVerifiedAndMovedIntoPlace) {
  ASSERT_TRUE(Start().fetch.empty());
  // Two files damaged; the record still holds their old stamps.
  WriteFileBytes(PathOf(1), "damaged");
  ASSERT_TRUE(DeleteFileW(PathOf(2).c_str()));
  const ReleaseStatus status = Start();
  ASSERT_EQ(FetchPaths(status), (std::set<std::string>{kRelease.files[1].path, kRelease.files[2].path}));
  const VerifiedRecord afterCheck = ReadVerifiedRecord(install);
  EXPECT_EQ(afterCheck.entries.size(), 2u) << "only the files found in place";

  ApplyRelease(
      install, status, [](const std::wstring&, std::int32_t) {}, server.baseUrl());
  const VerifiedRecord afterPatch = ReadVerifiedRecord(install);
  EXPECT_EQ(afterPatch.entries.size(), kRelease.files.size());
  for (const VerifiedEntry& entry : afterPatch.entries) {
    SCOPED_TRACE(entry.path);
    EXPECT_EQ(entry.sha256, Sha256Hex(ReadFileBytes(InstallPath(install, entry.path))));
  }
  EXPECT_TRUE(Start().fetch.empty());
  EXPECT_EQ(figures.hashedFiles, 0u) << "the patched files are not hashed again";
}

TEST_F(VerifiedCheckTest, AFileWrittenJustBeforeTheCheckIsHashedAgainNextTime) {
  // Its stamp may not show a write within the file system's time step.
  WriteFileBytes(PathOf(0), kRelease.files[0].content);
  ASSERT_TRUE(Start().fetch.empty());
  ASSERT_TRUE(Start().fetch.empty());
  EXPECT_EQ(figures.hashedFiles, 1u);
}

TEST_F(VerifiedCheckTest, TheCheckItselfWritesNothing) {
  ASSERT_TRUE(Start().fetch.empty());
  WriteFileBytes(PathOf(0), "changed");
  const std::string record = ReadFileBytes(RecordPath());
  VerifiedManifestMemory memory;
  FileVerification verification;
  verification.known = ReadVerifiedRecord(install);
  EXPECT_EQ(FetchPaths(CheckRelease(install, memory, verification, server.baseUrl())),
            std::set<std::string>{kRelease.files[0].path});
  EXPECT_EQ(ReadFileBytes(RecordPath()), record);
  ASSERT_TRUE(verification.verified);
  EXPECT_EQ(verification.verified->entries.size(), kRelease.files.size() - 1);
}

}  // namespace
}  // namespace launcher
