#include "files/small_file.h"

#include <windows.h>

#include <gtest/gtest.h>

#include <functional>
#include <memory>
#include <optional>
#include <string>

#include "test_support/held_file.h"
#include "test_support/temp_folder.h"

namespace launcher {
namespace {

using testing::FileExists;
using testing::HeldFile;
using testing::ReadFileBytes;
using testing::Sharing;
using testing::TempFolder;
using testing::WriteFileBytes;

// Shorter than, exactly at and past the ceiling, within one read and across
// several (a read takes 64 KiB at most).
TEST(ReadSmallFile, GivesTheWholeFileUpToItsCeiling) {
  struct Case {
    const char* name;
    std::optional<std::size_t> size;  // none: no file
    std::size_t ceiling;
    bool read;
  };
  const Case kCases[] = {
      {"absent", std::nullopt, 100, false},
      {"empty, ceiling 0", 0, 0, true},
      {"one byte, ceiling 0", 1, 0, false},
      {"below the ceiling", 99, 100, true},
      {"at the ceiling", 100, 100, true},
      {"one byte past the ceiling", 101, 100, false},
      {"at the ceiling, several reads", 200000, 200000, true},
      {"past the ceiling in a later read", 200001, 200000, false},
      {"far past the ceiling", 1 << 20, 70000, false},
  };
  TempFolder folder;
  for (const auto& c : kCases) {
    SCOPED_TRACE(c.name);
    const std::wstring path = folder / L"record.txt";
    DeleteFileW(path.c_str());
    std::string bytes;
    for (std::size_t i = 0; c.size && i < *c.size; ++i) bytes += static_cast<char>('a' + i % 26);
    if (c.size) WriteFileBytes(path, bytes);

    const std::optional<std::string> read = ReadSmallFile(path, c.ceiling);
    ASSERT_EQ(read.has_value(), c.read);
    if (read) {
      EXPECT_TRUE(*read == bytes);
    }
  }
  // A folder where the record should be is unreadable, not an empty record.
  ASSERT_TRUE(CreateDirectoryW((folder / L"a folder").c_str(), nullptr));
  EXPECT_FALSE(ReadSmallFile(folder / L"a folder", 100).has_value());
}

TEST(WriteFileReplacing, ReplacesTheFileAndLeavesNothingBeside) {
  TempFolder folder;
  const std::wstring path = folder / L"record.txt";
  for (const std::string& bytes : {std::string("1.0\r\n"), std::string(300000, 'x'), std::string()}) {
    SCOPED_TRACE(bytes.size());
    ASSERT_TRUE(WriteFileReplacing(path, bytes));
    EXPECT_TRUE(ReadFileBytes(path) == bytes);
    EXPECT_FALSE(FileExists(path + L".partial"));
  }
}

// Whatever stops the replacement, the old record stays as it was and no
// temporary file of ours is left behind.
TEST(WriteFileReplacing, AFailureLeavesTheOldFile) {
  struct Case {
    const char* name;
    std::function<std::unique_ptr<HeldFile>(const TempFolder&)> arrange;
    bool folderBeside;  // a folder sits where the temporary file would go
  };
  const Case kCases[] = {
      {"the record is held without delete sharing",
       [](const TempFolder& f) { return std::make_unique<HeldFile>(f / L"record.txt", Sharing::Read); }, false},
      {"a folder where the temporary file would go",
       [](const TempFolder& f) {
         EXPECT_TRUE(CreateDirectoryW((f / L"record.txt.partial").c_str(), nullptr));
         return std::unique_ptr<HeldFile>();
       },
       true},
      {"the temporary file is held open",
       [](const TempFolder& f) {
         WriteFileBytes(f / L"record.txt.partial", "someone else's");
         return std::make_unique<HeldFile>(f / L"record.txt.partial", Sharing::None);
       },
       false},
  };
  for (const auto& c : kCases) {
    SCOPED_TRACE(c.name);
    TempFolder folder;
    const std::wstring path = folder / L"record.txt";
    WriteFileBytes(path, "old\r\n");
    {
      const std::unique_ptr<HeldFile> held = c.arrange(folder);
      if (held) {
        ASSERT_TRUE(held->holding());
      }
      EXPECT_FALSE(WriteFileReplacing(path, "new\r\n"));
    }
    EXPECT_EQ(ReadFileBytes(path), "old\r\n");
    const DWORD beside = GetFileAttributesW((path + L".partial").c_str());
    if (c.folderBeside) {
      EXPECT_NE(beside, INVALID_FILE_ATTRIBUTES);
    } else if (beside != INVALID_FILE_ATTRIBUTES) {
      // Only a file that was there before and could not be opened stays.
      EXPECT_EQ(ReadFileBytes(path + L".partial"), "someone else's");
    }
  }

  TempFolder folder;
  EXPECT_FALSE(WriteFileReplacing(folder / L"missing\\record.txt", "new"));
  EXPECT_FALSE(FileExists(folder / L"missing"));
}

TEST(DeleteFileEvenReadOnly, TrueOnceTheFileIsGone) {
  struct Case {
    const char* name;
    bool exists;
    DWORD attributes;
    bool held;  // held open by another program, reads shared, delete not
    bool gone;
  };
  const Case kCases[] = {
      {"a plain file", true, FILE_ATTRIBUTE_NORMAL, false, true},
      {"a read-only file", true, FILE_ATTRIBUTE_READONLY, false, true},
      {"read-only and hidden", true, FILE_ATTRIBUTE_READONLY | FILE_ATTRIBUTE_HIDDEN, false, true},
      {"no file", false, 0, false, true},
      {"a held file", true, FILE_ATTRIBUTE_NORMAL, true, false},
      {"a held read-only file", true, FILE_ATTRIBUTE_READONLY, true, false},
  };
  TempFolder folder;
  for (const auto& c : kCases) {
    SCOPED_TRACE(c.name);
    const std::wstring path = folder / L"stale.dat";
    if (c.exists) {
      WriteFileBytes(path, "bytes");
      ASSERT_TRUE(SetFileAttributesW(path.c_str(), c.attributes));
    }
    {
      const std::unique_ptr<HeldFile> held = c.held ? std::make_unique<HeldFile>(path, Sharing::Read) : nullptr;
      if (held) {
        ASSERT_TRUE(held->holding());
      }
      EXPECT_EQ(DeleteFileEvenReadOnly(path), c.gone);
      EXPECT_EQ(FileExists(path), !c.gone);
      // A file that stays keeps the attributes it had.
      if (!c.gone) {
        EXPECT_EQ(GetFileAttributesW(path.c_str()) & FILE_ATTRIBUTE_READONLY, c.attributes & FILE_ATTRIBUTE_READONLY);
      }
    }
    if (FileExists(path)) {
      SetFileAttributesW(path.c_str(), FILE_ATTRIBUTE_NORMAL);
      DeleteFileW(path.c_str());
    }
  }
  EXPECT_TRUE(DeleteFileEvenReadOnly(folder / L"no folder\\stale.dat"));
  ASSERT_TRUE(CreateDirectoryW((folder / L"a folder").c_str(), nullptr));
  EXPECT_FALSE(DeleteFileEvenReadOnly(folder / L"a folder"));
}

}  // namespace
}  // namespace launcher
