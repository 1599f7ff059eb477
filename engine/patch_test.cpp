#include "engine/patch.h"
#include "engine/side_by_side.h"

#include <windows.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <functional>
#include <memory>
#include <optional>
#include <thread>
#include <vector>

#include "core/paths.h"
#include "engine/release_check.h"
#include "files/file_handle.h"
#include "test_support/error_message.h"
#include "test_support/held_file.h"
#include "test_support/pattern_bytes.h"
#include "test_support/programs.h"
#include "test_support/temp_folder.h"
#include "test_support/test_release.h"
#include "test_support/test_server.h"

namespace launcher {
namespace {

using testing::FileExists;
using testing::HeldFile;
using testing::InstallPath;
using testing::ProgramFolder;
using testing::PublishRelease;
using testing::ReadFileBytes;
using testing::ReleaseFile;
using testing::Sha256Hex;
using testing::Sharing;
using testing::TempFolder;
using testing::TestRelease;
using testing::TestResponse;
using testing::TestServer;
using testing::WriteFileBytes;
using testing::WriteInstall;

const std::wstring kStillRunning = L"Stonewake is still running. Close it, then update again.";
const std::wstring kCloseOtherCopies = L"The launcher could not be updated. Close other copies of it and try again.";
const std::wstring kLauncherNotUpdated = L"The launcher could not be updated. Try again.";
const std::wstring kMismatch = L"A downloaded file did not match the release, so it was thrown away. Try again.";
const std::wstring kNotThere = L"The release server did not have what the launcher asked for.";

std::string Bytes(std::size_t size, unsigned seed) { return testing::PatternBytes(size, seed); }

// A program that records how it was started, beside itself as
// "<program>.started": the new launcher of a self-replacement.
std::string RecordingProgram() { return ReadFileBytes(JoinPath(ProgramFolder(), L"record_start.exe")); }

using testing::WaitForStartRecord;

struct Report {
  std::wstring text;
  std::int32_t percent;
};

class ApplyReleaseTest : public ::testing::Test {
 public:
  ReleaseStatus Check() { return CheckRelease(install.path(), server.baseUrl()); }

  // Runs ApplyRelease, collecting its reports; returns the error's sentence,
  // or empty on success with the result in `replaced`.
  std::wstring Apply(const ReleaseStatus& status) {
    reports.clear();
    const PatchProgress progress = [this](const std::wstring& text, std::int32_t percent) {
      reports.push_back({text, percent});
      if (onReport) onReport(text);
    };
    return testing::ErrorMessageOf(
        [&] { replaced = ApplyRelease(install.path(), status, progress, server.baseUrl()); });
  }

  std::wstring Path(std::string_view manifestPath) const { return InstallPath(install.path(), manifestPath); }
  std::string Installed() const { return ReadFileBytes(install / L"installed.txt"); }

  void ExpectInstalled(const TestRelease& release) const {
    for (const ReleaseFile& file : release.files) {
      SCOPED_TRACE(file.path);
      EXPECT_TRUE(ReadFileBytes(Path(file.path)) == file.content);
    }
  }

  TestServer server;
  TempFolder install;
  std::vector<Report> reports;
  std::function<void(const std::wstring&)> onReport;
  std::optional<bool> replaced;
};

TestRelease Release(std::string version, std::vector<ReleaseFile> files) {
  TestRelease release;
  release.version = std::move(version);
  release.files = std::move(files);
  return release;
}

TestRelease GameRelease(std::string version, unsigned seed) {
  return Release(std::move(version), {
                                         {"game/Stonewake.exe", Bytes(70000, seed)},
                                         {"game/data/Data.pak", Bytes(1300000, seed + 1)},
                                         {"game/data/maps/north.map", Bytes(20000, seed + 2)},
                                         {"game/readme.txt", "plain text " + std::to_string(seed)},
                                     });
}

// A release the check ignored (older, no rollback line) has no files; the
// engine applies it as nothing at all, whoever calls it.
TEST_F(ApplyReleaseTest, AnUntakenReleaseChangesNothing) {
  const TestRelease installed = GameRelease("1.5", 60);
  WriteInstall(install.path(), installed, "1.5");
  WriteFileBytes(Path("game/stray.dat"), "not listed anywhere");
  WriteFileBytes(Path("Stonewake Launcher.exe.partial"), "a cut launcher download");
  PublishRelease(server, GameRelease("1.4", 70));

  const ReleaseStatus status = Check();
  ASSERT_TRUE(status.files.empty());
  EXPECT_EQ(Apply(status), L"");
  EXPECT_EQ(replaced, false);

  ExpectInstalled(installed);
  EXPECT_EQ(ReadFileBytes(Path("game/stray.dat")), "not listed anywhere");
  EXPECT_EQ(ReadFileBytes(Path("Stonewake Launcher.exe.partial")), "a cut launcher download");
  EXPECT_EQ(Installed(), "1.5\r\n");
  ASSERT_EQ(reports.size(), 2u);
  EXPECT_EQ(reports.back().text, L"Up to date.");
  EXPECT_EQ(reports.back().percent, 100);
}

// A patch retried after a failure applies the status it had: the files the
// failed attempt already verified and moved into place are not downloaded
// again, and the progress still counts them.
TEST_F(ApplyReleaseTest, FilesAlreadyInPlaceAreNotFetchedAgain) {
  const TestRelease release = GameRelease("3.0", 100);
  PublishRelease(server, release);
  const ReleaseStatus status = Check();
  ASSERT_EQ(status.fetch.size(), 4u);
  // As a failed first attempt leaves them: two files in place, one of them
  // of the right size with other bytes.
  WriteFileBytes(Path(release.files[0].path), release.files[0].content);
  WriteFileBytes(Path(release.files[2].path), std::string(release.files[2].content.size(), 'x'));

  EXPECT_EQ(Apply(status), L"");
  ExpectInstalled(release);
  std::vector<std::string> fetched;
  for (const testing::RecordedRequest& request : server.Requests()) {
    if (request.path.starts_with("/objects/")) fetched.push_back(request.path.substr(9));
  }
  EXPECT_EQ(std::count(fetched.begin(), fetched.end(), Sha256Hex(release.files[0].content)), 0);
  EXPECT_EQ(std::count(fetched.begin(), fetched.end(), Sha256Hex(release.files[2].content)), 1);
  EXPECT_EQ(fetched.size(), 3u);
  EXPECT_EQ(reports.back().percent, 100);
}

// A launcher download cut short beside the game folder goes once a patch
// completes, with or without a launcher of its own.
TEST_F(ApplyReleaseTest, LeftoverLauncherPartialGoesWithThePatch) {
  for (const bool withLauncher : {false, true}) {
    SCOPED_TRACE(withLauncher ? "the release replaces the launcher" : "game files only");
    TestRelease release = GameRelease(withLauncher ? "2.1" : "2.0", withLauncher ? 90 : 80);
    if (withLauncher) release.files.push_back({"Stonewake Launcher.exe", RecordingProgram()});
    PublishRelease(server, release);
    WriteFileBytes(Path("Stonewake Launcher.exe"), "the running launcher");
    WriteFileBytes(Path("Stonewake Launcher.exe.partial"), "a cut launcher download");

    EXPECT_EQ(Apply(Check()), L"");
    EXPECT_EQ(replaced, withLauncher);
    EXPECT_FALSE(FileExists(Path("Stonewake Launcher.exe.partial")));
    ExpectInstalled(release);
    if (withLauncher) WaitForStartRecord(Path("Stonewake Launcher.exe.started"));
  }
}

// From nothing to a whole install: files in place, strays under "game"
// gone, files the release does not own kept, the version recorded, and the
// reports in their order.
TEST_F(ApplyReleaseTest, InstallsAReleaseFromNothing) {
  const TestRelease release = GameRelease("1.4.2", 1);
  PublishRelease(server, release);
  WriteFileBytes(Path("game/imgui.ini"), "[Window]");
  WriteFileBytes(Path("game/data/maps/imgui.ini"), "[Window][Deep]");
  // Only the exact name is spared ("imgui.ini" and "IMGUI.INI" are one file
  // in one folder, so the capitals live elsewhere).
  WriteFileBytes(Path("game/data/IMGUI.INI"), "not the spared name");
  WriteFileBytes(Path("game/old/dropped.pak"), "dropped from the game");
  WriteFileBytes(Path("game/data/half.pak.partial"), "left by an interrupted download");
  WriteFileBytes(Path("game/data/DATA.PAK.partial"), "also left behind");
  WriteFileBytes(Path("shortcuts.txt"), "outside the game folder");
  SetFileAttributesW(Path("game/old/dropped.pak").c_str(), FILE_ATTRIBUTE_READONLY);

  const ReleaseStatus status = Check();
  ASSERT_EQ(status.fetch.size(), 4u);
  EXPECT_EQ(Apply(status), L"");
  EXPECT_EQ(replaced, false);

  ExpectInstalled(release);
  EXPECT_EQ(Installed(), "1.4.2\r\n");
  EXPECT_EQ(ReadFileBytes(Path("game/imgui.ini")), "[Window]");
  EXPECT_EQ(ReadFileBytes(Path("game/data/maps/imgui.ini")), "[Window][Deep]");
  EXPECT_EQ(ReadFileBytes(Path("shortcuts.txt")), "outside the game folder");
  for (const char* gone : {"game/data/IMGUI.INI", "game/old/dropped.pak", "game/data/half.pak.partial",
                           "game/data/DATA.PAK.partial", "game/Stonewake.exe.partial"}) {
    SCOPED_TRACE(gone);
    EXPECT_FALSE(FileExists(Path(gone)));
  }
  EXPECT_TRUE(FileExists(Path("game/old")));  // folders stay

  ASSERT_GE(reports.size(), 6u);
  EXPECT_EQ(reports.front().text, L"Preparing the update...");
  EXPECT_EQ(reports.front().percent, 0);
  EXPECT_EQ(reports.back().text, L"Up to date.");
  EXPECT_EQ(reports.back().percent, 100);
  for (std::size_t i = 1; i + 1 < reports.size(); ++i) {
    EXPECT_EQ(reports[i].text.rfind(L"Downloading: ", 0), 0u);
    EXPECT_LE(reports[i - 1].percent, reports[i].percent);
  }
  EXPECT_EQ(reports[reports.size() - 2].text, L"Downloading: 1 of 1 MB");
  EXPECT_EQ(reports[reports.size() - 2].percent, 100);
}

// The keep set folds ASCII case only: a listed file renamed on disk to
// other letter cases is still that file.
TEST_F(ApplyReleaseTest, CleanupKeepsListedFilesInAnyAsciiCase) {
  TestRelease release = Release("2.0", {{"game/data/data.pak", "listed lower-case"}});
  PublishRelease(server, release);
  WriteInstall(install.path(), release, "1.0");
  ASSERT_TRUE(MoveFileW(Path("game/data/data.pak").c_str(), Path("game/data/Data.PAK").c_str()));

  const ReleaseStatus status = Check();
  EXPECT_TRUE(status.fetch.empty());
  EXPECT_EQ(Apply(status), L"");
  EXPECT_EQ(ReadFileBytes(Path("game/data/Data.PAK")), "listed lower-case");
}

// An install that already matches still gets its cleanup and its record,
// and nothing is downloaded.
TEST_F(ApplyReleaseTest, NothingToFetchStillCleansAndRecords) {
  const TestRelease release = GameRelease("1.5", 10);
  PublishRelease(server, release);
  WriteInstall(install.path(), release, "1.4");
  WriteFileBytes(Path("game/stray.dat"), "stray");
  WriteFileBytes(Path("game/sub/imgui.ini"), "kept");

  const ReleaseStatus status = Check();
  ASSERT_TRUE(status.fetch.empty());
  const std::size_t requestsBefore = server.Requests().size();
  EXPECT_EQ(Apply(status), L"");
  EXPECT_EQ(replaced, false);
  EXPECT_EQ(server.Requests().size(), requestsBefore);

  ASSERT_EQ(reports.size(), 2u);
  EXPECT_EQ(reports[0].text, L"Preparing the update...");
  EXPECT_EQ(reports[0].percent, 0);
  EXPECT_EQ(reports[1].text, L"Up to date.");
  EXPECT_EQ(reports[1].percent, 100);
  EXPECT_FALSE(FileExists(Path("game/stray.dat")));
  EXPECT_TRUE(FileExists(Path("game/sub/imgui.ini")));
  EXPECT_EQ(Installed(), "1.5\r\n");
  ExpectInstalled(release);
}

// A patch that stops at one game file leaves that file as it was, every
// other game file old or new (downloads run side by side, so some after it
// may be done, some before it cut off) and never partial, and does not
// record the new version.
TEST_F(ApplyReleaseTest, StopsAtAFileAndKeepsWhatWasDone) {
  struct Case {
    const char* name;
    std::function<std::unique_ptr<HeldFile>(ApplyReleaseTest&, const TestRelease&)> arrange;
    std::wstring message;
    bool verifiedPartialStays;
  };
  const Case kCases[] = {
      {"the game holds the file open",
       [](ApplyReleaseTest& t, const TestRelease&) {
         // A running game shares reads but never delete.
         return std::make_unique<HeldFile>(t.Path("game/data/Data.pak"), Sharing::Read);
       },
       kStillRunning, true},
      {"the object is missing",
       [](ApplyReleaseTest& t, const TestRelease& r) {
         t.server.Set("/objects/" + Sha256Hex(r.files[1].content), TestResponse::Status(404));
         return std::unique_ptr<HeldFile>();
       },
       kNotThere, false},
      {"the object is damaged",
       [](ApplyReleaseTest& t, const TestRelease& r) {
         t.server.Set("/objects/" + Sha256Hex(r.files[1].content), TestResponse::Ok("not the file"));
         return std::unique_ptr<HeldFile>();
       },
       kMismatch, false},
  };
  unsigned seed = 100;
  for (const auto& c : kCases) {
    SCOPED_TRACE(c.name);
    const TestRelease before = GameRelease("1.0", seed);
    const TestRelease after = GameRelease("1.1", seed + 10);
    seed += 20;
    WriteInstall(install.path(), before, "1.0");
    PublishRelease(server, after);
    const ReleaseStatus status = Check();
    ASSERT_EQ(status.fetch.size(), 4u);

    {
      const std::unique_ptr<HeldFile> held = c.arrange(*this, after);
      if (held) {
        ASSERT_TRUE(held->holding());
      }
      EXPECT_EQ(Apply(status), c.message);
    }
    ASSERT_EQ(before.files.size(), after.files.size());
    std::size_t left = 0;  // files not yet new
    for (std::size_t i = 0; i < before.files.size(); ++i) {
      const std::string content = ReadFileBytes(Path(before.files[i].path));
      if (content != after.files[i].content) ++left;
      if (i == 1) {
        EXPECT_TRUE(content == before.files[i].content) << before.files[i].path;
      } else {
        EXPECT_TRUE(content == before.files[i].content || content == after.files[i].content) << before.files[i].path;
      }
      if (i != 1) {
        EXPECT_FALSE(FileExists(Path(before.files[i].path) + L".partial")) << before.files[i].path;
      }
    }
    EXPECT_EQ(FileExists(Path(after.files[1].path) + L".partial"), c.verifiedPartialStays);
    if (c.verifiedPartialStays) {
      EXPECT_TRUE(ReadFileBytes(Path(after.files[1].path) + L".partial") == after.files[1].content);
    }
    EXPECT_EQ(Installed(), "1.0\r\n");

    // Once the cause is gone the next check fetches only what is left, and
    // the cleanup takes the leftover ".partial" file.
    PublishRelease(server, after);
    const ReleaseStatus rest = Check();
    EXPECT_EQ(rest.fetch.size(), left);
    EXPECT_EQ(Apply(rest), L"");
    ExpectInstalled(after);
    EXPECT_FALSE(FileExists(Path(after.files[1].path) + L".partial"));
    EXPECT_EQ(Installed(), "1.1\r\n");
  }
}

// installed.txt that cannot be written stops the patch after the game files
// and the cleanup, before the launcher.
TEST_F(ApplyReleaseTest, UnwritableRecordStopsBeforeTheLauncher) {
  TestRelease release = GameRelease("3.0", 200);
  release.files.push_back({"Stonewake Launcher.exe", RecordingProgram()});
  PublishRelease(server, release);
  WriteFileBytes(Path("Stonewake Launcher.exe"), "the running launcher");
  WriteFileBytes(Path("game/stray.dat"), "stray");
  // A folder in its place: a read-only file would not do, as Wine run by
  // root writes through the read-only attribute.
  ASSERT_TRUE(CreateDirectoryW((install / L"installed.txt").c_str(), nullptr));

  EXPECT_EQ(Apply(Check()), L"Could not record the installed version.");
  for (std::size_t i = 0; i + 1 < release.files.size(); ++i) {
    EXPECT_TRUE(ReadFileBytes(Path(release.files[i].path)) == release.files[i].content);
  }
  EXPECT_FALSE(FileExists(Path("game/stray.dat")));
  EXPECT_TRUE(ReadFileBytes(Path("Stonewake Launcher.exe")) == "the running launcher");
  EXPECT_FALSE(FileExists(Path("Stonewake Launcher.exe.partial")));
  EXPECT_FALSE(FileExists(Path("Stonewake Launcher.old")));
}

// A release whose only difference is the launcher: nothing is fetched for
// the game, the cleanup and record still run, the previous launcher is
// parked under ".old" (replacing a leftover one), and the new launcher is
// started with "--updated" in the install folder.
TEST_F(ApplyReleaseTest, ReplacesTheLauncherLast) {
  TestRelease release = GameRelease("1.2", 300);
  release.files.insert(release.files.begin(), {"Stonewake Launcher.exe", RecordingProgram()});
  PublishRelease(server, release);
  TestRelease previous = release;
  previous.files[0].content = "the running launcher";
  WriteInstall(install.path(), previous, "1.1");
  WriteFileBytes(Path("Stonewake Launcher.old"), "left by an earlier update");
  WriteFileBytes(Path("game/stray.dat"), "stray");

  const ReleaseStatus status = Check();
  ASSERT_EQ(status.fetch.size(), 1u);
  EXPECT_EQ(Apply(status), L"");
  EXPECT_EQ(replaced, true);

  EXPECT_TRUE(ReadFileBytes(Path("Stonewake Launcher.exe")) == release.files[0].content);
  EXPECT_TRUE(ReadFileBytes(Path("Stonewake Launcher.old")) == "the running launcher");
  EXPECT_FALSE(FileExists(Path("Stonewake Launcher.exe.partial")));
  EXPECT_FALSE(FileExists(Path("game/stray.dat")));
  EXPECT_EQ(Installed(), "1.2\r\n");
  const std::vector<std::wstring> record = WaitForStartRecord(Path("Stonewake Launcher.exe.started"));
  ASSERT_EQ(record.size(), 2u);
  EXPECT_EQ(record[0], L"\"" + Path("Stonewake Launcher.exe") + L"\" --updated");
  EXPECT_EQ(record[1], install.path());
  EXPECT_EQ(reports.back().text, L"Up to date.");
  EXPECT_EQ(reports.back().percent, 100);
}

// The total counts the launcher, so the game files alone end below 100 %.
TEST_F(ApplyReleaseTest, GameFilesEndBelowFullWhenTheLauncherFollows) {
  TestRelease release =
      Release("1.3", {{"Stonewake Launcher.exe", RecordingProgram()}, {"game/a.pak", Bytes(400000, 5)}});
  PublishRelease(server, release);
  const ReleaseStatus status = Check();
  ASSERT_EQ(status.fetch.size(), 2u);
  EXPECT_EQ(status.fetch[1].path, "Stonewake Launcher.exe");

  std::optional<std::int32_t> percentBeforeLauncher;
  onReport = [&](const std::wstring&) {
    if (!percentBeforeLauncher && FileExists(Path("Stonewake Launcher.exe.partial"))) {
      percentBeforeLauncher = reports[reports.size() - 2].percent;
    }
  };
  EXPECT_EQ(Apply(status), L"");
  ASSERT_TRUE(percentBeforeLauncher);
  EXPECT_EQ(*percentBeforeLauncher,
            static_cast<std::int32_t>(400000ull * 100 / (400000 + release.files[0].content.size())));
  EXPECT_LT(*percentBeforeLauncher, 100);
  WaitForStartRecord(Path("Stonewake Launcher.exe.started"));
}

// Failures of the launcher's own replacement: where it stops, what it says,
// and that a launcher that starts is always left in place.
TEST_F(ApplyReleaseTest, LauncherReplacementFailures) {
  struct Case {
    const char* name;
    std::string newLauncher;
    std::wstring message;
    bool verifiedPartialStays;  // the downloaded launcher stays for the next attempt
  };
  const Case kCases[] = {
      // Something else holds the running launcher's file without delete
      // sharing, as a second copy of an old launcher can.
      {"the running launcher cannot be parked", "", kCloseOtherCopies, true},
      // A scanner opens the freshly downloaded launcher just before the move.
      {"the new launcher cannot be moved into place", "", kLauncherNotUpdated, true},
      // The working launcher goes back in place over the one that does not
      // start, rather than staying parked under the name the next start
      // deletes.
      {"the new launcher does not start", "not a program", L"Could not start Stonewake Launcher.exe.", false},
  };
  unsigned seed = 400;
  for (const auto& c : kCases) {
    SCOPED_TRACE(c.name);
    const std::string newLauncher = c.newLauncher.empty() ? RecordingProgram() + Bytes(100, seed++) : c.newLauncher;
    TestRelease release =
        Release("5.0", {{"game/a.pak", Bytes(3000, seed++)}, {"Stonewake Launcher.exe", newLauncher}});
    PublishRelease(server, release);
    WriteFileBytes(Path("Stonewake Launcher.exe"), "the running launcher");
    DeleteFileW(Path("Stonewake Launcher.old").c_str());
    const ReleaseStatus status = Check();

    std::unique_ptr<HeldFile> held;
    FileHandle scanner;
    onReport = nullptr;
    if (std::string_view(c.name) == kCases[0].name) {
      held = std::make_unique<HeldFile>(Path("Stonewake Launcher.exe"), Sharing::Read);
    } else if (std::string_view(c.name) == kCases[1].name) {
      // Opened while the download is still writing it: reads and writes are
      // shared, delete (and so the rename) is not.
      onReport = [&](const std::wstring&) {
        const std::wstring partial = Path("Stonewake Launcher.exe.partial");
        if (!scanner && FileExists(partial)) {
          scanner.reset(CreateFileW(partial.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                                    OPEN_EXISTING, 0, nullptr));
        }
      };
    }
    EXPECT_EQ(Apply(status), c.message);
    held.reset();
    scanner.reset();

    EXPECT_TRUE(ReadFileBytes(Path("game/a.pak")) == release.files[0].content);
    EXPECT_EQ(Installed(), "5.0\r\n");
    EXPECT_TRUE(ReadFileBytes(Path("Stonewake Launcher.exe")) == "the running launcher");
    EXPECT_FALSE(FileExists(Path("Stonewake Launcher.old")));
    if (c.verifiedPartialStays) {
      EXPECT_TRUE(ReadFileBytes(Path("Stonewake Launcher.exe.partial")) == newLauncher);
    } else {
      EXPECT_FALSE(FileExists(Path("Stonewake Launcher.exe.partial")));
    }

    // The next check fetches the launcher alone.
    EXPECT_EQ(Check().fetch.size(), 1u);
  }
}


// Many small files: the release of `count` files under game/data/.
TestRelease ManyFiles(std::string version, std::size_t count, std::size_t size, unsigned seed) {
  std::vector<ReleaseFile> files;
  for (std::size_t i = 0; i < count; ++i) {
    files.push_back({"game/data/file" + std::to_string(i) + ".dat", Bytes(size, seed + static_cast<unsigned>(i))});
  }
  return Release(std::move(version), std::move(files));
}

// Each object waits before its answer, so downloads that overlap show in
// the server; one after another they never would. Progress still only
// grows, ends at the whole patch, and every file arrives.
TEST_F(ApplyReleaseTest, GameFilesDownloadSideBySide) {
  const TestRelease release = ManyFiles("1.0", 12, 30000, 300);
  PublishRelease(server, release);
  for (const ReleaseFile& file : release.files) {
    TestResponse slow = TestResponse::Ok(file.content);
    slow.stallBeforeHeaders = std::chrono::milliseconds(300);
    server.Set("/objects/" + Sha256Hex(file.content), slow);
  }
  const ReleaseStatus status = Check();
  ASSERT_EQ(status.fetch.size(), release.files.size());

  EXPECT_EQ(Apply(status), L"");
  ExpectInstalled(release);
  EXPECT_GE(server.PeakAnswering(), 2);
  EXPECT_LE(server.PeakAnswering(), static_cast<int>(kSideBySide));

  std::int32_t last = 0;
  std::uint64_t lastMegabytes = 0;
  for (const Report& report : reports) {
    EXPECT_GE(report.percent, last) << report.text;
    last = report.percent;
    if (report.text.starts_with(L"Downloading: ")) {
      const std::uint64_t megabytes = std::stoull(report.text.substr(13));
      EXPECT_GE(megabytes, lastMegabytes) << report.text;
      lastMegabytes = megabytes;
    }
  }
  EXPECT_EQ(last, 100);
}

// The first failure ends the patch with its own sentence; the downloads
// still running stop, and the files they were to replace keep their old
// content. A stopped download large enough to be resumed keeps the bytes it
// has (the beginning of its object), and the next attempt asks only for the
// rest; a smaller one leaves no ".partial" file.
TEST_F(ApplyReleaseTest, AFailureStopsTheDownloadsInFlight) {
  const struct {
    const char* name;
    std::size_t size;
    bool kept;
  } kCases[] = {
      {"files resumed", 300000, true},
      {"files fetched whole", 100000, false},
  };
  unsigned seed = 400;
  for (const auto& c : kCases) {
    SCOPED_TRACE(c.name);
    const TestRelease before = ManyFiles("1.0", 2 * kSideBySide, c.size, seed);
    const TestRelease after = ManyFiles("1.1", 2 * kSideBySide, c.size, seed + 100);
    seed += 200;
    WriteInstall(install.path(), before, "1.0");
    PublishRelease(server, after);
    TestResponse missing = TestResponse::Status(404);
    missing.stallBeforeHeaders = std::chrono::milliseconds(300);
    server.Set("/objects/" + Sha256Hex(after.files[0].content), missing);
    for (std::size_t i = 1; i < after.files.size(); ++i) {
      TestResponse stalling = TestResponse::Ok(after.files[i].content);
      stalling.stallAt = 1000;
      stalling.stallInBody = std::chrono::milliseconds(1500);
      server.Set("/objects/" + Sha256Hex(after.files[i].content), stalling);
    }
    const ReleaseStatus status = Check();
    ASSERT_EQ(status.fetch.size(), after.files.size());
    const std::size_t requestsBefore = server.Requests().size();

    EXPECT_EQ(Apply(status), kNotThere);
    std::size_t partials = 0;
    for (std::size_t i = 0; i < before.files.size(); ++i) {
      SCOPED_TRACE(before.files[i].path);
      EXPECT_TRUE(ReadFileBytes(Path(before.files[i].path)) == before.files[i].content);
      const std::wstring partial = Path(before.files[i].path) + L".partial";
      if (!FileExists(partial)) continue;
      ++partials;
      const std::string left = ReadFileBytes(partial);
      EXPECT_TRUE(left == after.files[i].content.substr(0, left.size()));
    }
    EXPECT_EQ(partials > 0, c.kept);
    EXPECT_EQ(Installed(), "1.0\r\n");
    // No file was asked for after the failure but those already in flight.
    auto requests = server.Requests();
    EXPECT_LE(std::count_if(requests.begin() + static_cast<std::ptrdiff_t>(requestsBefore), requests.end(),
                            [](const testing::RecordedRequest& r) { return r.path.starts_with("/objects/"); }),
              static_cast<std::ptrdiff_t>(kSideBySide));

    // The retry, the object back: the kept bytes are not asked for again.
    PublishRelease(server, after);
    const std::size_t retryFrom = server.Requests().size();
    EXPECT_EQ(Apply(Check()), L"");
    ExpectInstalled(after);
    EXPECT_EQ(Installed(), "1.1\r\n");
    std::size_t ranges = 0;
    requests = server.Requests();
    for (std::size_t i = retryFrom; i < requests.size(); ++i) ranges += requests[i].Header("Range").has_value();
    EXPECT_EQ(ranges, partials);
    for (const ReleaseFile& file : after.files) EXPECT_FALSE(FileExists(Path(file.path) + L".partial"));
    EXPECT_FALSE(FileExists(install / L"partials.txt"));
  }
}

// A ".partial" is resumed only when the record of the attempt that wrote it
// names the object the release lists now at that path; otherwise it goes
// and the object is fetched whole. Either way the right file is installed.
TEST_F(ApplyReleaseTest, OnlyAPartialOfTheListedObjectIsResumed) {
  const std::string listed = Bytes(400000, 950);
  const std::string earlier = Bytes(400000, 951);  // the path's object before the release changed
  const auto lineFor = [](const std::string& content) {
    return Sha256Hex(content) + " " + std::to_string(content.size()) + " game/data/big.pak\n";
  };
  const struct {
    const char* name;
    std::string kept;    // the ".partial"'s bytes
    std::string record;  // partials.txt, none when empty
    bool resumed;
  } kCases[] = {
      {"the listed object's beginning, recorded", listed.substr(0, 150000), lineFor(listed), true},
      {"recorded in other letter case", listed.substr(0, 150000),
       Sha256Hex(listed) + " 400000 game/DATA/Big.pak\n", true},
      {"another object's beginning, recorded as such", earlier.substr(0, 150000), lineFor(earlier), false},
      {"another object's beginning, recorded as the listed one's size only",
       earlier.substr(0, 150000), Sha256Hex(earlier) + " 400000 game/data/big.pak\n", false},
      {"the listed object's beginning, no record", listed.substr(0, 150000), "", false},
      {"a record cut in its line", listed.substr(0, 150000), lineFor(listed).substr(0, 70), false},
  };
  int run = 0;
  for (const auto& c : kCases) {
    SCOPED_TRACE(c.name);
    const TestRelease release = Release("9." + std::to_string(run++), {{"game/data/big.pak", listed}});
    PublishRelease(server, release);
    WriteFileBytes(Path("game/data/big.pak"), "the installed file");
    WriteFileBytes(Path("game/data/big.pak.partial"), c.kept);
    DeleteFileW((install / L"partials.txt").c_str());
    if (!c.record.empty()) WriteFileBytes(install / L"partials.txt", c.record);
    TestResponse rest = TestResponse::Ok(listed.substr(150000));
    rest.status = 206;
    rest.headers = {"Content-Range: bytes 150000-399999/400000"};
    server.SetForRange("/objects/" + Sha256Hex(listed), rest);
    const std::size_t requestsBefore = server.Requests().size();

    EXPECT_EQ(Apply(Check()), L"");
    ExpectInstalled(release);
    EXPECT_FALSE(FileExists(Path("game/data/big.pak.partial")));
    EXPECT_FALSE(FileExists(install / L"partials.txt"));
    const auto requests = server.Requests();
    ASSERT_EQ(requests.size() - requestsBefore, 3u);  // manifest, signature, object
    EXPECT_EQ(requests.back().Header("Range"), c.resumed ? std::optional<std::string>("bytes=150000-") : std::nullopt);
    EXPECT_EQ(requests.back().bodyBytesSent, c.resumed ? 250000u : 400000u);
  }
}

// The record lists every large download of a patch; a release of many large
// files makes it large too (a manifest near its 32 MiB ceiling, more than
// 16 MiB). Such a record still vouches for what its patch kept.
TEST_F(ApplyReleaseTest, ALargeRecordStillVouchesForTheKeptBytes) {
  const std::string listed = Bytes(400000, 960);
  const TestRelease release = Release("9.9", {{"game/data/big.pak", listed}});
  PublishRelease(server, release);
  // The other downloads of the patch that wrote it: 250-character paths.
  std::string record;
  for (std::size_t i = 0; record.size() <= 20 * 1048576; ++i) {
    record += Sha256Hex(std::to_string(i)) + " 300000 game/" + std::string(235, 'p') + "/" + std::to_string(1000000 + i) +
              ".pak\n";
  }
  record += Sha256Hex(listed) + " 400000 game/data/big.pak\n";
  WriteFileBytes(install / L"partials.txt", record);
  WriteFileBytes(Path("game/data/big.pak.partial"), listed.substr(0, 150000));
  TestResponse rest = TestResponse::Ok(listed.substr(150000));
  rest.status = 206;
  rest.headers = {"Content-Range: bytes 150000-399999/400000"};
  server.SetForRange("/objects/" + Sha256Hex(listed), rest);

  EXPECT_EQ(Apply(Check()), L"");
  ExpectInstalled(release);
  EXPECT_EQ(server.Requests().back().Header("Range"), std::optional<std::string>("bytes=150000-"));
  EXPECT_FALSE(FileExists(install / L"partials.txt"));
}

// A release may list one file twice: in one spelling, or in two that differ
// in letter case only (one file to Windows). Served slowly enough that two
// downloads of it would overlap, each run of a fresh release installs it
// from one download, leaves no ".partial", records the version, counts the
// repeat as done, and a check afterwards has nothing to fetch.
TEST_F(ApplyReleaseTest, AFileListedTwiceIsDownloadedOnce) {
  const struct {
    const char* name;
    const char* first;
    const char* second;
  } kCases[] = {
      {"the same path twice", "game/d", "game/d"},
      {"letter case twins", "game/Data/A.pak", "game/data/a.pak"},
  };
  unsigned seed = 700;
  for (const auto& c : kCases) {
    for (int run = 0; run < 3; ++run) {
      SCOPED_TRACE(std::string(c.name) + ", run " + std::to_string(run));
      const std::string content = Bytes(600000, seed++);
      const std::string version = "7." + std::to_string(seed);
      const TestRelease release =
          Release(version, {{"game/other.dat", Bytes(5000, seed++)}, {c.first, content}, {c.second, content}});
      PublishRelease(server, release);
      const std::string object = "/objects/" + Sha256Hex(content);
      TestResponse slow = TestResponse::Ok(content);
      slow.stallAt = 1000;
      slow.stallInBody = std::chrono::milliseconds(400);
      server.Set(object, slow);
      const std::size_t requestsBefore = server.RequestCount(object);

      const ReleaseStatus status = Check();
      ASSERT_EQ(status.fetch.size(), 3u);
      EXPECT_EQ(Apply(status), L"");
      ExpectInstalled(release);
      EXPECT_EQ(server.RequestCount(object) - requestsBefore, 1u);
      EXPECT_FALSE(FileExists(Path(c.first) + L".partial"));
      EXPECT_FALSE(FileExists(Path(c.second) + L".partial"));
      EXPECT_EQ(Installed(), version + "\r\n");
      ASSERT_GE(reports.size(), 2u);
      EXPECT_EQ(reports[reports.size() - 2].percent, 100);
      EXPECT_EQ(reports.back().percent, 100);
      EXPECT_TRUE(Check().fetch.empty());
    }
  }
}

// A server (or a middlebox) that drops a kept connection without a word:
// the request sent on it fails before any answer and goes once more, so the
// patch completes.
TEST_F(ApplyReleaseTest, AKeptConnectionDroppedWithoutAWordCostsOneMoreRequest) {
  const struct {
    const char* name;
    testing::Reuse reuse;
  } kCases[] = {
      {"closed in order", testing::Reuse::CloseOnce},
      {"reset", testing::Reuse::ResetOnce},
  };
  unsigned seed = 800;
  for (const auto& c : kCases) {
    SCOPED_TRACE(c.name);
    const TestRelease release = ManyFiles("8." + std::to_string(seed), 3 * kSideBySide, 20000, seed);
    seed += 100;
    PublishRelease(server, release);
    const ReleaseStatus status = Check();
    server.SetReuse(c.reuse);

    EXPECT_EQ(Apply(status), L"");
    server.SetReuse(testing::Reuse::Close);
    ExpectInstalled(release);
    EXPECT_EQ(Installed(), "8." + std::to_string(seed - 100) + "\r\n");
    std::size_t objectRequests = 0;
    for (const ReleaseFile& file : release.files) {
      objectRequests += server.RequestCount("/objects/" + Sha256Hex(file.content));
    }
    EXPECT_EQ(objectRequests, release.files.size() + 1);
  }
}

// One object is missing while another's answer stalls for 20 s, before its
// headers or inside its body: the missing object's sentence comes at once,
// not after the stall, and the stopped download leaves no ".partial".
TEST_F(ApplyReleaseTest, AFailureEndsTheWaitsInFlight) {
  const struct {
    const char* name;
    bool inBody;
  } kCases[] = {
      {"headers stall", false},
      {"body stalls", true},
  };
  unsigned seed = 900;
  for (const auto& c : kCases) {
    SCOPED_TRACE(c.name);
    // Below the size that is resumed: a stopped download leaves nothing.
    const TestRelease before = ManyFiles("1.0", 2, 200000, seed);
    const TestRelease after = ManyFiles("1.1", 2, 200000, seed + 10);
    seed += 20;
    WriteInstall(install.path(), before, "1.0");
    PublishRelease(server, after);
    TestResponse stalling = TestResponse::Ok(after.files[0].content);
    if (c.inBody) {
      stalling.stallAt = 1000;
      stalling.stallInBody = std::chrono::seconds(20);
    } else {
      stalling.stallBeforeHeaders = std::chrono::seconds(20);
    }
    server.Set("/objects/" + Sha256Hex(after.files[0].content), stalling);
    TestResponse missing = TestResponse::Status(404);
    missing.stallBeforeHeaders = std::chrono::milliseconds(500);  // the other is under way by then
    server.Set("/objects/" + Sha256Hex(after.files[1].content), missing);
    const ReleaseStatus status = Check();
    ASSERT_EQ(status.fetch.size(), 2u);

    const auto start = std::chrono::steady_clock::now();
    EXPECT_EQ(Apply(status), kNotThere);
    // Far below the stall, whatever the machine's load.
    EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(10));
    for (const ReleaseFile& file : before.files) {
      SCOPED_TRACE(file.path);
      EXPECT_TRUE(ReadFileBytes(Path(file.path)) == file.content);
      EXPECT_FALSE(FileExists(Path(file.path) + L".partial"));
    }
    EXPECT_EQ(Installed(), "1.0\r\n");
  }
}


// A patch that failed with large downloads in flight keeps their bytes for
// the next attempt. When the install then matches a release with nothing to
// fetch (the studio took the release back, or the files were put right
// another way), no patch follows, so what the downloads left goes then: every
// ".partial" that is not a file of the release, the cut launcher download and
// the record. Files of the release, even one named like a download, and
// files of no release stay.
TEST_F(ApplyReleaseTest, AbandonedDownloadsGoOnceTheInstallMatches) {
  TestRelease before = ManyFiles("1.0", 2 * kSideBySide, 300000, 1000);
  before.files.push_back({"game/notes.partial", "a file of the release"});
  const TestRelease after = ManyFiles("1.1", 2 * kSideBySide, 300000, 1100);
  WriteInstall(install.path(), before, "1.0");
  WriteFileBytes(Path("game/stray.dat"), "of no release");
  WriteFileBytes(Path("game/imgui.ini"), "[Window]");
  PublishRelease(server, after);
  TestResponse missing = TestResponse::Status(404);
  missing.stallBeforeHeaders = std::chrono::milliseconds(300);
  server.Set("/objects/" + Sha256Hex(after.files[0].content), missing);
  for (std::size_t i = 1; i < after.files.size(); ++i) {
    TestResponse stalling = TestResponse::Ok(after.files[i].content);
    stalling.stallAt = 1000;
    stalling.stallInBody = std::chrono::milliseconds(1500);
    server.Set("/objects/" + Sha256Hex(after.files[i].content), stalling);
  }
  const ReleaseStatus failed = Check();
  ASSERT_EQ(Apply(failed), kNotThere);
  // As a patch killed at other moments leaves them too.
  WriteFileBytes(Path("game/data/small.pak.partial"), "a download below the resumed size");
  WriteFileBytes(Path("Stonewake Launcher.exe.partial"), "a cut launcher download");
  const auto partials = [&] {
    std::size_t count = 0;
    for (const ReleaseFile& file : after.files) count += FileExists(Path(file.path) + L".partial");
    return count;
  };
  const std::size_t kept = partials();
  ASSERT_GT(kept, 0u);
  ASSERT_TRUE(FileExists(install / L"partials.txt"));

  // Still to be fetched, or a release the check did not take: the kept bytes
  // wait for the next patch.
  DiscardAbandonedDownloads(install.path(), failed);
  DiscardAbandonedDownloads(install.path(), ReleaseStatus{L"1.1", {}, {}, 0, {}});
  EXPECT_EQ(partials(), kept);
  EXPECT_TRUE(FileExists(install / L"partials.txt"));
  EXPECT_TRUE(FileExists(Path("Stonewake Launcher.exe.partial")));

  PublishRelease(server, before);
  const ReleaseStatus matching = Check();
  ASSERT_TRUE(matching.fetch.empty());
  ASSERT_FALSE(matching.files.empty());
  DiscardAbandonedDownloads(install.path(), matching);
  EXPECT_EQ(partials(), 0u);
  EXPECT_FALSE(FileExists(Path("game/data/small.pak.partial")));
  EXPECT_FALSE(FileExists(Path("Stonewake Launcher.exe.partial")));
  EXPECT_FALSE(FileExists(install / L"partials.txt"));
  ExpectInstalled(before);
  EXPECT_EQ(ReadFileBytes(Path("game/stray.dat")), "of no release");
  EXPECT_EQ(ReadFileBytes(Path("game/imgui.ini")), "[Window]");
  EXPECT_EQ(Installed(), "1.0\r\n");
}

}  // namespace
}  // namespace launcher
