#include "engine/stale_files.h"

#include <windows.h>

#include <gtest/gtest.h>

#include <vector>

#include "core/text.h"
#include "test_support/held_file.h"
#include "test_support/sealed_folder.h"
#include "test_support/temp_folder.h"
#include "test_support/test_release.h"

namespace launcher {
namespace {

using testing::FileExists;
using testing::HeldFile;
using testing::SealedFolder;
using testing::InstallPath;
using testing::Sharing;
using testing::TempFolder;
using testing::WriteFileBytes;

class RemoveStaleFilesTest : public ::testing::Test {
 protected:
  // Writes a file at a manifest path and lists it in the keep set the way
  // patch application builds it.
  void Listed(const std::string& manifestPath) {
    WriteFileBytes(InstallPath(folder.path(), manifestPath), "listed");
    keep.insert(LowerAscii(InstallPath(folder.path(), manifestPath)));
  }
  std::wstring Stray(std::wstring_view relative) {
    const std::wstring path = folder / relative;
    WriteFileBytes(path, "stray");
    return path;
  }

  TempFolder folder;
  const std::wstring game = folder / L"game";
  std::set<std::wstring> keep;
};

TEST_F(RemoveStaleFilesTest, DeletesWhatTheReleaseDoesNotList) {
  Listed("game/Stonewake.exe");
  Listed("game/data/sub/level 1.pak");
  // On disk in other capitals than listed: the same file to Windows.
  WriteFileBytes(folder / L"game/data/Data.PAK", "listed");
  keep.insert(LowerAscii(InstallPath(folder.path(), "game/data/data.pak")));
  keep.insert(LowerAscii(InstallPath(folder.path(), "Stonewake Launcher.exe")));
  // A listed name with a non-ASCII letter: its capital on disk is another
  // file as far as the keep set goes.
  keep.insert(LowerAscii(folder / L"game/\u00e9t\u00e9.pak"));

  const std::wstring kept[] = {
      Stray(L"game/imgui.ini"),
      Stray(L"game/saves/deep/imgui.ini"),
      Stray(L"installed.txt"),
      Stray(L"Stonewake Launcher.exe"),
      Stray(L"other.partial"),
  };
  const std::wstring deleted[] = {
      Stray(L"game/config/IMGUI.INI"),
      Stray(L"game/old.pak"),
      Stray(L"game/data/sub/level 1.pak.partial"),
      Stray(L"game/\u00c9T\u00c9.pak"),
      Stray(L"game/only/stray.bin"),
      Stray(L"game/readonly.dat"),
  };
  SetFileAttributesW((folder / L"game/readonly.dat").c_str(), FILE_ATTRIBUTE_READONLY);
  CreateDirectoryW((folder / L"game/empty").c_str(), nullptr);

  RemoveStaleFiles(game, keep);

  for (const std::wstring& path : kept) EXPECT_TRUE(FileExists(path)) << "deleted: " << ::testing::PrintToString(path);
  for (const std::wstring& path : deleted) {
    EXPECT_FALSE(FileExists(path)) << "left: " << ::testing::PrintToString(path);
  }
  for (const char* listed : {"game/Stonewake.exe", "game/data/sub/level 1.pak", "game/data/data.pak"}) {
    EXPECT_TRUE(FileExists(InstallPath(folder.path(), listed))) << listed;
  }
  for (const wchar_t* emptied : {L"game/empty", L"game/only", L"game/config"}) {
    EXPECT_EQ(GetFileAttributesW((folder / emptied).c_str()), DWORD{FILE_ATTRIBUTE_DIRECTORY})
        << "folders stay: " << ::testing::PrintToString(std::wstring(emptied));
  }
}

TEST_F(RemoveStaleFilesTest, AFileInUseStaysAndTheRestGoes) {
  Listed("game/Stonewake.exe");
  const std::wstring before = Stray(L"game/a.log");
  const std::wstring held = Stray(L"game/m.log");
  const std::wstring readOnlyHeld = Stray(L"game/n.log");
  const std::wstring after = Stray(L"game/z.log");
  SetFileAttributesW(readOnlyHeld.c_str(), FILE_ATTRIBUTE_READONLY);
  HeldFile holding(held, Sharing::ReadWrite);
  HeldFile holdingReadOnly(readOnlyHeld, Sharing::ReadWrite);
  ASSERT_TRUE(holding.holding() && holdingReadOnly.holding());

  RemoveStaleFiles(game, keep);

  EXPECT_TRUE(FileExists(held));
  EXPECT_TRUE(FileExists(readOnlyHeld));
  EXPECT_EQ(GetFileAttributesW(readOnlyHeld.c_str()) & FILE_ATTRIBUTE_READONLY, DWORD{FILE_ATTRIBUTE_READONLY})
      << "a file that stays keeps its attributes";
  EXPECT_FALSE(FileExists(before));
  EXPECT_FALSE(FileExists(after));
}

TEST_F(RemoveStaleFilesTest, AFolderThatCannotBeOpenedIsSkipped) {
  // Folders are listed in the file system's order, so spread the strays
  // over many folders: some are met after the one that cannot be opened.
  std::vector<std::wstring> strays;
  for (int i = 0; i < 20; ++i) strays.push_back(Stray(L"game/f" + std::to_wstring(i) + L"/stray.pak"));
  const SealedFolder sealed(game, L"stray.pak");

  RemoveStaleFiles(game, keep);

  for (const std::wstring& path : strays) EXPECT_FALSE(FileExists(path)) << ::testing::PrintToString(path);
  EXPECT_TRUE(sealed.FileStillThere());
}

TEST_F(RemoveStaleFilesTest, NoGameFolderNoChange) {
  const std::wstring outside = Stray(L"stray.pak");
  RemoveStaleFiles(game, keep);
  EXPECT_TRUE(FileExists(outside));

  // A file where the game folder should be is not a folder to clean.
  WriteFileBytes(game, "not a folder");
  RemoveStaleFiles(game, keep);
  EXPECT_TRUE(FileExists(game));
}

}  // namespace
}  // namespace launcher
