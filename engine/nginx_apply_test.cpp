// Patches against real releases: trees made by the publisher and served by
// nginx (tools/nginx/serve.sh), which engine/testing/nginx_apply_test.sh
// prepares before it runs this program.
//
//   STONEWAKE_NGINX_BASE      the server's base URL; the releases answer
//                             under "/r1", "/r2" and "/r3"
//   STONEWAKE_RELEASE_SOURCES the folder the releases were made from, one
//                             subfolder per release holding "game" and
//                             "launcher.exe"
//
// r1 is a whole game with a launcher, r2 changes only the launcher, r3
// changes two game files.
#include <windows.h>

#include <gtest/gtest.h>

#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <string>
#include <thread>
#include <vector>

#include "core/paths.h"
#include "core/text.h"
#include "engine/patch.h"
#include "engine/release_check.h"
#include "test_support/error_message.h"
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

std::wstring Environment(const char* name) {
  const char* value = std::getenv(name);
  return value ? WidenAscii(value) : std::wstring();
}

struct Report {
  std::wstring text;
  std::int32_t percent;
};

class NginxApplyTest : public ::testing::Test {
 protected:
  void SetUp() override {
    base = Environment("STONEWAKE_NGINX_BASE");
    sources = Environment("STONEWAKE_RELEASE_SOURCES");
    if (base.empty() || sources.empty()) GTEST_SKIP() << "runs from nginx_apply_test.sh";
  }

  std::wstring Url(const wchar_t* release) const { return base + L"/" + release; }
  std::wstring Path(std::wstring_view relative) const { return install / relative; }

  ReleaseStatus Check(const wchar_t* release) { return CheckRelease(install.path(), Url(release)); }

  std::wstring Apply(const wchar_t* release, const ReleaseStatus& status, bool* replaced = nullptr) {
    reports.clear();
    const PatchProgress progress = [this](const std::wstring& text, std::int32_t percent) {
      reports.push_back({text, percent});
    };
    return testing::ErrorMessageOf([&] {
      const bool result = ApplyRelease(install.path(), status, progress, Url(release));
      if (replaced) *replaced = result;
    });
  }

  // Every game file of the release's source folder is in the install,
  // byte for byte.
  void ExpectGameOf(const wchar_t* release) {
    const std::filesystem::path game = std::filesystem::path(JoinPath(JoinPath(sources, release), L"game"));
    std::error_code error;
    int compared = 0;
    for (auto it = std::filesystem::recursive_directory_iterator(game, error);
         !error && it != std::filesystem::recursive_directory_iterator(); it.increment(error)) {
      if (!it->is_regular_file()) continue;
      const std::wstring relative = std::filesystem::relative(it->path(), game).wstring();
      SCOPED_TRACE(NarrowLow(relative));
      EXPECT_TRUE(ReadFileBytes(Path(L"game\\" + relative)) == ReadFileBytes(it->path().wstring()));
      ++compared;
    }
    EXPECT_GT(compared, 3);
  }

  std::string LauncherOf(const wchar_t* release) const {
    return ReadFileBytes(JoinPath(JoinPath(sources, release), L"launcher.exe"));
  }

  std::wstring StartRecord() const {
    const std::wstring path = Path(L"Stonewake Launcher.exe.started");
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(30);
    while (!FileExists(path) && std::chrono::steady_clock::now() < deadline) {
      std::this_thread::sleep_for(std::chrono::milliseconds(20));
    }
    const std::string bytes = ReadFileBytes(path);
    DeleteFileW(path.c_str());
    return std::wstring(reinterpret_cast<const wchar_t*>(bytes.data()), bytes.size() / sizeof(wchar_t));
  }

  void InstallRelease(const wchar_t* release) {
    bool replaced = false;
    ASSERT_EQ(Apply(release, Check(release), &replaced), L"");
    if (replaced) StartRecord();
  }

  std::wstring base;
  std::wstring sources;
  TempFolder install;
  std::vector<Report> reports;
};

// A whole release from nothing; then, with nothing left to fetch, a patch
// still removes strays, keeps files the release does not own and records
// the version.
TEST_F(NginxApplyTest, InstallsThenCleansWithNothingToFetch) {
  bool replaced = false;
  EXPECT_EQ(Apply(L"r1", Check(L"r1"), &replaced), L"");
  EXPECT_TRUE(replaced);
  ExpectGameOf(L"r1");
  EXPECT_TRUE(ReadFileBytes(Path(L"Stonewake Launcher.exe")) == LauncherOf(L"r1"));
  EXPECT_EQ(StartRecord(), L"\"" + Path(L"Stonewake Launcher.exe") + L"\" --updated\n" + install.path() + L"\n");
  EXPECT_EQ(ReadFileBytes(Path(L"installed.txt")), "1.0\r\n");

  WriteFileBytes(Path(L"game\\imgui.ini"), "[Window]");
  WriteFileBytes(Path(L"game\\data\\imgui.ini"), "[Window][Deep]");
  WriteFileBytes(Path(L"game\\data\\stray.pak"), "stray");
  DeleteFileW(Path(L"installed.txt").c_str());
  const ReleaseStatus status = Check(L"r1");
  ASSERT_TRUE(status.fetch.empty());
  EXPECT_EQ(Apply(L"r1", status, &replaced), L"");
  EXPECT_FALSE(replaced);
  ASSERT_EQ(reports.size(), 2u);
  EXPECT_EQ(reports[0].text, L"Preparing the update...");
  EXPECT_EQ(reports[1].text, L"Up to date.");
  EXPECT_EQ(reports[1].percent, 100);
  EXPECT_FALSE(FileExists(Path(L"game\\data\\stray.pak")));
  EXPECT_EQ(ReadFileBytes(Path(L"game\\imgui.ini")), "[Window]");
  EXPECT_EQ(ReadFileBytes(Path(L"game\\data\\imgui.ini")), "[Window][Deep]");
  EXPECT_EQ(ReadFileBytes(Path(L"installed.txt")), "1.0\r\n");
  ExpectGameOf(L"r1");
}

// A release that changes only the launcher: the running launcher is parked
// under ".old" (replacing a leftover one) and the new one started.
TEST_F(NginxApplyTest, LauncherOnlyRelease) {
  InstallRelease(L"r1");
  WriteFileBytes(Path(L"Stonewake Launcher.old"), "left by an earlier update");

  const ReleaseStatus status = Check(L"r2");
  ASSERT_EQ(status.fetch.size(), 1u);
  EXPECT_EQ(status.fetch[0].path, "Stonewake Launcher.exe");
  bool replaced = false;
  EXPECT_EQ(Apply(L"r2", status, &replaced), L"");
  EXPECT_TRUE(replaced);
  EXPECT_TRUE(ReadFileBytes(Path(L"Stonewake Launcher.exe")) == LauncherOf(L"r2"));
  EXPECT_TRUE(ReadFileBytes(Path(L"Stonewake Launcher.old")) == LauncherOf(L"r1"));
  EXPECT_EQ(StartRecord(), L"\"" + Path(L"Stonewake Launcher.exe") + L"\" --updated\n" + install.path() + L"\n");
  EXPECT_EQ(ReadFileBytes(Path(L"installed.txt")), "1.1\r\n");
}

// The game holds the second changed file open: the patch stops there with
// the first one replaced, and finishes once the game is closed.
TEST_F(NginxApplyTest, RunningGameStopsThePatch) {
  InstallRelease(L"r1");
  InstallRelease(L"r2");
  const ReleaseStatus status = Check(L"r3");
  ASSERT_EQ(status.fetch.size(), 2u);
  const std::wstring first = LocalPathFor(install.path(), status.fetch[0]);
  const std::wstring second = LocalPathFor(install.path(), status.fetch[1]);
  const std::string firstBefore = ReadFileBytes(first);
  const std::string secondBefore = ReadFileBytes(second);
  {
    HeldFile game(second, Sharing::Read);
    ASSERT_TRUE(game.holding());
    EXPECT_EQ(Apply(L"r3", status), L"Stonewake is still running. Close it, then update again.");
  }
  const std::wstring r3 = JoinPath(sources, L"r3");
  // The files download side by side: the other one was either finished
  // and moved into place, or stopped, keeping at most its object's
  // beginning for the next attempt to go on from.
  const std::string firstNew = ReadFileBytes(LocalPathFor(r3, status.fetch[0]));
  const bool firstDone = ReadFileBytes(first) == firstNew;
  EXPECT_TRUE(firstDone || ReadFileBytes(first) == firstBefore);
  const std::string firstKept = ReadFileBytes(first + L".partial");
  EXPECT_TRUE(firstNew.starts_with(firstKept));
  EXPECT_TRUE(ReadFileBytes(second) == secondBefore);
  EXPECT_TRUE(ReadFileBytes(second + L".partial") == ReadFileBytes(LocalPathFor(r3, status.fetch[1])));
  EXPECT_EQ(ReadFileBytes(Path(L"installed.txt")), "1.1\r\n");
  const ReleaseStatus rest = Check(L"r3");
  ASSERT_EQ(rest.fetch.size(), firstDone ? 1u : 2u);
  EXPECT_EQ(LocalPathFor(install.path(), rest.fetch.back()), second);

  EXPECT_EQ(Apply(L"r3", rest), L"");
  ExpectGameOf(L"r3");
  EXPECT_FALSE(FileExists(first + L".partial"));
  EXPECT_FALSE(FileExists(second + L".partial"));
  EXPECT_EQ(ReadFileBytes(Path(L"installed.txt")), "1.2\r\n");
}

}  // namespace
}  // namespace launcher
