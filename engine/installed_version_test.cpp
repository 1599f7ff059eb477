#include "engine/installed_version.h"

#include <windows.h>

#include <gtest/gtest.h>

#include "core/records.h"
#include "core/text.h"
#include "test_support/error_message.h"
#include "test_support/held_file.h"
#include "test_support/temp_folder.h"

namespace launcher {
namespace {

using testing::HeldFile;
using testing::ReadFileBytes;
using testing::Sharing;
using testing::TempFolder;
using testing::WriteFileBytes;

std::wstring WriteError(std::wstring_view folder, std::wstring_view version) {
  return testing::ErrorMessageOf([&] { WriteInstalledVersion(folder, version); });
}

TEST(ReadInstalledVersion, FirstLineWithoutTrailingBlanks) {
  struct Case {
    const char* name;
    std::string content;
    std::wstring expected;
  };
  const Case kCases[] = {
      {"CR LF", "1.4.2\r\n", L"1.4.2"},
      {"LF", "1.4.2\n", L"1.4.2"},
      {"no line end", "1.4.2", L"1.4.2"},
      {"trailing spaces and tabs", "1.4.2 \t \t\r\n", L"1.4.2"},
      {"leading blanks stay", "  1.4.2\r\n", L"  1.4.2"},
      {"several lines", "1.4.2\r\n1.5.0\r\nnoise\r\n", L"1.4.2"},
      {"empty first line", "\r\n1.4.2\r\n", L""},
      {"blank first line", " \t\r\n1.4.2\r\n", L""},
      {"empty file", "", L""},
      // Longer than one read of the file: the line must not be cut at a
      // buffer boundary.
      {"long line", std::string(1000, '7') + "\r\n1.0\r\n", std::wstring(1000, L'7')},
      {"line end just past a read", std::string(256, '7') + "\n", std::wstring(256, L'7')},
      // Bytes a text-mode read would end at or convert stay as they are.
      {"control byte inside", "1.4\x1a" "2\r\n", std::wstring(L"1.4\x1a") + L"2"},
      {"high bytes", "1.\x80\xff\r\n", WidenAscii("1.\x80\xff")},
  };
  for (const auto& c : kCases) {
    SCOPED_TRACE(c.name);
    TempFolder folder;
    WriteFileBytes(folder / L"installed.txt", c.content);
    EXPECT_EQ(ReadInstalledVersion(folder.path()), c.expected);
  }
}

TEST(ReadInstalledVersion, NothingInstalledWhenTheRecordCannotBeRead) {
  TempFolder folder;
  EXPECT_EQ(ReadInstalledVersion(folder.path()), L"");
  EXPECT_EQ(ReadInstalledVersion(folder / L"missing"), L"");

  CreateDirectoryW((folder / L"installed.txt").c_str(), nullptr);
  EXPECT_EQ(ReadInstalledVersion(folder.path()), L"") << "a folder in the record's place";
}

TEST(ReadInstalledVersion, SharesTheRecordWithOtherProcesses) {
  TempFolder folder;
  WriteFileBytes(folder / L"installed.txt", "1.4.2\r\n");
  {
    HeldFile held(folder / L"installed.txt", Sharing::ReadWrite);
    ASSERT_TRUE(held.holding());
    EXPECT_EQ(ReadInstalledVersion(folder.path()), L"1.4.2");
  }
  HeldFile locked(folder / L"installed.txt", Sharing::None);
  ASSERT_TRUE(locked.holding());
  EXPECT_EQ(ReadInstalledVersion(folder.path()), L"") << "unreadable reads as nothing installed";
}

TEST(WriteInstalledVersion, WritesExactlyTheVersionAndCrLf) {
  TempFolder folder;
  WriteFileBytes(folder / L"installed.txt", "an older and much longer record\r\nsecond line\r\n");
  WriteInstalledVersion(folder.path(), L"1.4.2");
  EXPECT_EQ(ReadFileBytes(folder / L"installed.txt"), "1.4.2\r\n");
  EXPECT_FALSE(testing::FileExists(folder / L"installed.txt.partial"));

  WriteInstalledVersion(folder.path(), L"");
  EXPECT_EQ(ReadFileBytes(folder / L"installed.txt"), "\r\n");
}

TEST(WriteInstalledVersion, EveryByteSurvivesTheRoundTrip) {
  TempFolder folder;
  std::string word;
  for (int byte = 0x21; byte <= 0xFF; ++byte) word.push_back(static_cast<char>(byte));
  const std::wstring version = WidenAscii(word);
  WriteInstalledVersion(folder.path(), version);
  EXPECT_EQ(ReadFileBytes(folder / L"installed.txt"), word + "\r\n");
  EXPECT_EQ(ReadInstalledVersion(folder.path()), version);
}

TEST(WriteInstalledVersion, FailsWhenTheRecordCannotBeOpened) {
  TempFolder folder;
  EXPECT_EQ(WriteError(folder / L"missing", L"1.4.2"), L"Could not record the installed version.");

  WriteFileBytes(folder / L"installed.txt", "1.3\r\n");
  {
    HeldFile held(folder / L"installed.txt", Sharing::Read);
    ASSERT_TRUE(held.holding());
    EXPECT_EQ(WriteError(folder.path(), L"1.4.2"), L"Could not record the installed version.") << "held open";
  }
  EXPECT_EQ(ReadFileBytes(folder / L"installed.txt"), "1.3\r\n") << "the old record stays whole";
  EXPECT_FALSE(testing::FileExists(folder / L"installed.txt.partial"));

  TempFolder other;
  CreateDirectoryW((other / L"installed.txt").c_str(), nullptr);
  EXPECT_EQ(WriteError(other.path(), L"1.4.2"), L"Could not record the installed version.") << "a folder in its place";
}

TEST(WriteInstalledVersion, FailsOverAReadOnlyRecord) {
  TempFolder folder;
  const std::wstring record = folder / L"installed.txt";
  WriteFileBytes(record, "1.3\r\n");
  SetFileAttributesW(record.c_str(), FILE_ATTRIBUTE_READONLY);
  // Wine keeps the read-only attribute in the Unix permissions, which do not
  // stop root: then nothing here can be refused.
  WriteFileBytes(folder / L"probe.txt", "");
  WriteFileBytes(folder / L"probe-target.txt", "");
  SetFileAttributesW((folder / L"probe-target.txt").c_str(), FILE_ATTRIBUTE_READONLY);
  if (MoveFileExW((folder / L"probe.txt").c_str(), (folder / L"probe-target.txt").c_str(), MOVEFILE_REPLACE_EXISTING)) {
    GTEST_SKIP() << "this file system lets a read-only file be replaced";
  }
  EXPECT_EQ(WriteError(folder.path(), L"1.4.2"), L"Could not record the installed version.");
  EXPECT_EQ(ReadFileBytes(record), "1.3\r\n");
}

}  // namespace
}  // namespace launcher
