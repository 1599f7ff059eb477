#include "engine/process_start.h"

#include <windows.h>

#include <shellapi.h>

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "core/paths.h"
#include "core/records.h"
#include "files/system_handles.h"
#include "test_support/error_message.h"
#include "test_support/programs.h"
#include "test_support/temp_folder.h"

namespace launcher {
namespace {

using testing::FileExists;
using testing::ProgramFolder;
using testing::ReadFileBytes;
using testing::TempFolder;

std::vector<std::wstring> SplitLikeTheStartedProgram(const std::wstring& commandLine) {
  int count = 0;
  const ArgumentList arguments(CommandLineToArgvW(commandLine.c_str(), &count));
  if (!arguments) return {};
  return std::vector<std::wstring>(arguments.get(), arguments.get() + count);
}

std::wstring StartError(const std::wstring& program) {
  return testing::ErrorMessageOf([&] { StartProcess(program, L"--updated", L"", false); });
}

TEST(ProcessCommandLine, ParsesBackIntoTheProgramAndItsArguments) {
  struct Case {
    const char* name;
    std::wstring program;
    std::wstring arguments;
    std::wstring expectedLine;
    std::vector<std::wstring> expectedArgv;
  };
  const std::wstring game = L"C:\\Users\\Jo Smith\\AppData\\Local\\Stonewake\\game\\Stonewake.exe";
  const Case kCases[] = {
      {"game with a version", game, L"--launcher 1.4.2", L"\"" + game + L"\" --launcher 1.4.2",
       {game, L"--launcher", L"1.4.2"}},
      {"empty version keeps the space", game, L"--launcher ", L"\"" + game + L"\" --launcher ",
       {game, L"--launcher"}},
      {"no arguments: only the quoted path", game, L"", L"\"" + game + L"\"", {game}},
      {"updated launcher", L"C:\\Stonewake\\Stonewake Launcher.exe", L"--updated",
       L"\"C:\\Stonewake\\Stonewake Launcher.exe\" --updated", {L"C:\\Stonewake\\Stonewake Launcher.exe", L"--updated"}},
  };
  for (const auto& c : kCases) {
    SCOPED_TRACE(c.name);
    const std::wstring line = ProcessCommandLine(c.program, c.arguments);
    EXPECT_EQ(line, c.expectedLine);
    EXPECT_EQ(SplitLikeTheStartedProgram(line), c.expectedArgv);
  }
}

// A fake game: the recording helper copied to "Stonewake.exe" in an install
// folder whose path has spaces. It writes how it was started into a file
// named by STONEWAKE_RECORD_START, which the started process inherits.
class StartedProgramTest : public ::testing::Test {
 protected:
  void SetUp() override {
    CreateDirectoryW(install.c_str(), nullptr);
    CreateDirectoryW(JoinPath(install, L"game").c_str(), nullptr);
    ASSERT_TRUE(CopyFileW(JoinPath(ProgramFolder(), L"record_start.exe").c_str(), game.c_str(), FALSE));
    ASSERT_TRUE(SetEnvironmentVariableW(L"STONEWAKE_RECORD_START", record.c_str()));
  }
  void TearDown() override { SetEnvironmentVariableW(L"STONEWAKE_RECORD_START", nullptr); }

  // The started program's command line and current folder.
  std::vector<std::wstring> Recorded() {
    const std::vector<std::wstring> lines = testing::WaitForStartRecord(record);
    DeleteFileW(record.c_str());
    return lines;
  }

  TempFolder folder;
  const std::wstring install = folder / L"Install Folder";
  const std::wstring game = folder / L"Install Folder/game/Stonewake.exe";
  const std::wstring record = folder / L"started.txt";
};

TEST_F(StartedProgramTest, TheGameStartsInTheGameFolderWithTheVersion) {
  struct Case {
    const char* name;
    std::wstring version;
    std::wstring argumentsSeen;
  };
  const Case kCases[] = {
      {"version", L"1.4.2", L"--launcher 1.4.2"},
      {"empty version", L"", L"--launcher "},
  };
  for (const auto& c : kCases) {
    SCOPED_TRACE(c.name);
    StartGame(install, c.version);
    const std::vector<std::wstring> seen = Recorded();
    ASSERT_EQ(seen.size(), 2u);
    EXPECT_EQ(seen[0], L"\"" + game + L"\" " + c.argumentsSeen);
    EXPECT_EQ(SplitLikeTheStartedProgram(seen[0]).at(0), game);
    EXPECT_EQ(seen[1], JoinPath(install, L"game"));
  }
}

TEST_F(StartedProgramTest, TheProgramGetsTheRequestedWorkingFolder) {
  StartProcess(game, L"", install, false);
  const std::vector<std::wstring> seen = Recorded();
  ASSERT_EQ(seen.size(), 2u);
  EXPECT_EQ(seen[0], L"\"" + game + L"\"");
  EXPECT_EQ(seen[1], install);
}

TEST(StartProcess, AProgramThatCannotStartIsNamedWithoutItsFolder) {
  TempFolder folder;
  testing::WriteFileBytes(folder / L"game/Broken.exe", "not a program");
  EXPECT_EQ(StartError(folder / L"game/Stonewake.exe"), L"Could not start Stonewake.exe.");
  EXPECT_EQ(StartError(folder / L"game/Broken.exe"), L"Could not start Broken.exe.");
  EXPECT_EQ(StartError(folder / L"game"), L"Could not start game.");

  EXPECT_EQ(testing::ErrorMessageOf([&] { StartGame(folder.path(), L"1.4.2"); }), L"Could not start Stonewake.exe.");
}

}  // namespace
}  // namespace launcher
