#include "engine/install_size.h"

#include <windows.h>

#include <winioctl.h>

#include <gtest/gtest.h>

#include <cstdint>
#include <vector>

#include "core/paths.h"
#include "files/file_handle.h"
#include "test_support/sealed_folder.h"
#include "test_support/temp_folder.h"

namespace launcher {
namespace {

using testing::SealedFolder;
using testing::TempFolder;
using testing::WriteFileBytes;

// A file of `size` bytes without writing them: the length is set directly,
// so gigabyte cases cost no disk.
void MakeFileOfSize(const std::wstring& path, std::uint64_t size) {
  WriteFileBytes(path, "");
  FileHandle file(CreateFileW(path.c_str(), GENERIC_WRITE, 0, nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr));
  ASSERT_TRUE(file);
  DWORD ignored = 0;
  DeviceIoControl(file.get(), FSCTL_SET_SPARSE, nullptr, 0, nullptr, 0, &ignored, nullptr);
  FILE_END_OF_FILE_INFO end{};
  end.EndOfFile.QuadPart = static_cast<LONGLONG>(size);
  ASSERT_TRUE(SetFileInformationByHandle(file.get(), FileEndOfFileInfo, &end, sizeof(end)));
}

TEST(InstallSizeText, FormatsTheTotalInMegabytesOrGigabytes) {
  struct Sized {
    const wchar_t* path;
    std::uint64_t size;
  };
  struct Case {
    const char* name;
    std::vector<Sized> files;
    const wchar_t* expected;
  };
  const Case kCases[] = {
      {"empty game folder", {}, L"0 MB"},
      {"launcher only", {{L"Stonewake Launcher.exe", 3145728}}, L"3 MB"},
      {"game files in subfolders", {{L"game/a.pak", 40000000}, {L"game/data/deep/b.pak", 4040192}}, L"42 MB"},
      {"half a megabyte rounds", {{L"game/a.pak", 524288 + 1}}, L"1 MB"},
      {"one byte under 1024 MiB", {{L"game/a.pak", 1073741000}, {L"Stonewake Launcher.exe", 823}}, L"1024 MB"},
      {"exactly 1024 MiB", {{L"game/a.pak", 1073741823}, {L"game/b/c.pak", 1}}, L"1.0 GB"},
      {"1.2 GB", {{L"game/a.pak", 1288490188}}, L"1.2 GB"},
      {"over 4 GiB", {{L"game/a.pak", 4294967296}, {L"game/b.pak", 644245094}}, L"4.6 GB"},
      {"what is outside the game folder does not count",
       {{L"game/a.pak", 3145728},
        {L"installed.txt", 1048576},
        {L"Stonewake Launcher.exe.partial", 1048576},
        {L"Stonewake Launcher.old", 1048576},
        {L"other/x.pak", 1048576}},
       L"3 MB"},
  };
  for (const auto& c : kCases) {
    SCOPED_TRACE(c.name);
    TempFolder folder;
    CreateDirectoryW((folder / L"game").c_str(), nullptr);
    for (const Sized& file : c.files) MakeFileOfSize(folder / file.path, file.size);
    EXPECT_EQ(InstallSizeText(folder.path()), c.expected);
  }
}

TEST(InstallSizeText, EmptyWithoutAGameFolder) {
  TempFolder folder;
  MakeFileOfSize(folder / L"Stonewake Launcher.exe", 3145728);
  EXPECT_EQ(InstallSizeText(folder.path()), L"");
  EXPECT_EQ(InstallSizeText(folder / L"missing"), L"");

  WriteFileBytes(folder / L"game", "a file, not the game folder");
  EXPECT_EQ(InstallSizeText(folder.path()), L"");
}

TEST(InstallSizeText, AFolderThatCannotBeOpenedAddsNothing) {
  TempFolder folder;
  // Folders are listed in the file system's order, so spread the files over
  // many folders: some are met after the one that cannot be opened.
  for (int i = 0; i < 20; ++i) MakeFileOfSize(folder / (L"game/f" + std::to_wstring(i) + L"/x.pak"), 1048576);
  const SealedFolder sealed(folder / L"game", L"x.pak");
  EXPECT_EQ(InstallSizeText(folder.path()), L"20 MB");
}

}  // namespace
}  // namespace launcher
