#include "release/file_digest.h"

#include <windows.h>

#include <gtest/gtest.h>

#include "core/records.h"
#include "test_support/error_message.h"
#include "test_support/held_file.h"
#include "test_support/temp_folder.h"

namespace launcher {
namespace {

using testing::HeldFile;
using testing::Sharing;
using testing::TempFolder;
using testing::WriteFileBytes;

std::wstring ErrorOf(const std::wstring& path) {
  return testing::ErrorMessageOf([&] { FileSha256(path); });
}

TEST(FileSha256, KnownAnswers) {
  TempFolder folder;
  struct Case {
    const char* name;
    std::string content;
    const char* digest;
  };
  const Case kCases[] = {
      {"empty", "", "e3b0c44298fc1c149afbf4c8996fb92427ae41e4649b934ca495991b7852b855"},
      {"abc", "abc", "ba7816bf8f01cfea414140de5dae2223b00361a396177a9cb410ff61f20015ad"},
      // 65,536 * 2 bytes of 'a': the final read returns nothing and must
      // hash nothing.
      {"two whole chunks", std::string(131072, 'a'),
       "b44ffb72fcc259676bd80495fef1b44b808ca8f1ffe1b1706a4d7911b0e31f11"},
      {"one chunk and one byte", std::string(65537, 'a'),
       "008ffc88d3c96a9f307524eb361e47c5222a887fc45fa0c1fb8d429c5c23b430"},
  };
  for (const auto& c : kCases) {
    SCOPED_TRACE(c.name);
    const std::wstring path = folder / L"file.bin";
    WriteFileBytes(path, c.content);
    const std::string digest = FileSha256(path);
    ASSERT_EQ(digest.size(), 64u);
    EXPECT_EQ(digest.find_first_not_of("0123456789abcdef"), std::string::npos);
    EXPECT_EQ(digest, c.digest);
  }
}

TEST(FileSha256, UnreadablePathsNameTheirLastComponent) {
  TempFolder folder;
  CreateDirectoryW((folder / L"Saves").c_str(), nullptr);
  struct Case {
    const char* name;
    std::wstring path;
    std::wstring message;
  };
  const Case kCases[] = {
      {"missing file", folder / L"game\\Stonewake.exe", L"Could not read Stonewake.exe."},
      {"a folder", folder / L"Saves", L"Could not read Saves."},
      {"path ending in a separator", folder.path() + L"\\", L"Could not read ."},
  };
  for (const auto& c : kCases) {
    SCOPED_TRACE(c.name);
    EXPECT_EQ(ErrorOf(c.path), c.message);
  }
}

TEST(FileSha256, HeldFiles) {
  TempFolder folder;
  const std::wstring path = folder / L"data.pak";
  WriteFileBytes(path, "abc");
  {
    HeldFile held(path, Sharing::Read);
    ASSERT_TRUE(held.holding());
    EXPECT_EQ(FileSha256(path), "ba7816bf8f01cfea414140de5dae2223b00361a396177a9cb410ff61f20015ad");
  }
  {
    HeldFile held(path, Sharing::None);
    ASSERT_TRUE(held.holding());
    EXPECT_EQ(ErrorOf(path), L"Could not read data.pak.");
  }
}

}  // namespace
}  // namespace launcher
