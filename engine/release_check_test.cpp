#include "engine/release_check.h"

#include <windows.h>

#include <gtest/gtest.h>

#include <filesystem>
#include <functional>
#include <map>
#include <memory>
#include <string>
#include <vector>

#include "core/paths.h"
#include "engine/version_probe.h"
#include "test_support/error_message.h"
#include "test_support/held_file.h"
#include "test_support/sealed_folder.h"
#include "test_support/temp_folder.h"
#include "test_support/test_release.h"
#include "test_support/test_server.h"

namespace launcher {
namespace {

using testing::HeldFile;
using testing::InstallPath;
using testing::ManifestText;
using testing::PublishRelease;
using testing::PublishTamperedRelease;
using testing::ReleaseFile;
using testing::SealedFolder;
using testing::ServeManifest;
using testing::Sha256Hex;
using testing::Sharing;
using testing::SignatureText;
using testing::TempFolder;
using testing::TestRelease;
using testing::TestResponse;
using testing::TestServer;
using testing::WriteFileBytes;

const std::wstring kNotVerifiedCheck = L"The release could not be verified, so nothing was changed.";
const std::wstring kNotVerifiedProbe = L"The release could not be verified.";

const ReleaseFile kExe{"game/Stonewake.exe", "game program bytes"};
const ReleaseFile kPak{"game/data/base.pak", "base pack bytes, a little longer"};
const ReleaseFile kLauncher{"Stonewake Launcher.exe", "launcher program bytes"};

ReleaseFile WithSize(ReleaseFile file, std::uint64_t publishedSize) {
  file.publishedSize = publishedSize;
  return file;
}

ReleaseFile WithPath(ReleaseFile file, std::string path) {
  file.path = std::move(path);
  return file;
}

// Everything under a folder as it is on disk: path, size, write time,
// attributes. Equal before and after means nothing was written, created,
// moved or deleted.
std::map<std::wstring, std::wstring> Snapshot(const std::wstring& folder) {
  std::map<std::wstring, std::wstring> seen;
  std::error_code error;
  seen[L"(root)"] = std::to_wstring(GetFileAttributesW(folder.c_str()));
  for (auto it = std::filesystem::recursive_directory_iterator(folder, error);
       !error && it != std::filesystem::recursive_directory_iterator(); it.increment(error)) {
    WIN32_FILE_ATTRIBUTE_DATA data{};
    GetFileAttributesExW(it->path().c_str(), GetFileExInfoStandard, &data);
    seen[it->path().wstring()] = std::to_wstring(data.dwFileAttributes) + L" " + std::to_wstring(data.nFileSizeLow) +
                                 L" " + std::to_wstring(data.ftLastWriteTime.dwLowDateTime) + L" " +
                                 std::to_wstring(data.ftLastWriteTime.dwHighDateTime);
  }
  return seen;
}

template <typename Call>
std::wstring ErrorOf(Call call) {
  return testing::ErrorMessageOf([&] { call(); });
}

class ReleaseCheckTest : public ::testing::Test {
 protected:
  // Writes the release's file at `index` under the install folder.
  void Install(const TestRelease& release, std::size_t index) {
    const ReleaseFile& file = release.files.at(index);
    WriteFileBytes(InstallPath(install, file.path), file.content);
  }
  void RecordInstalled(const std::string& version) {
    WriteFileBytes(JoinPath(install, L"installed.txt"), version + "\r\n");
  }

  TestServer server;
  TempFolder folder;
  const std::wstring install = folder / L"Stonewake";
};

// Every case runs the full check and the probe against the same release and
// install: the probe must name the version the check's status names.
TEST_F(ReleaseCheckTest, CheckAndProbeAgreeOnWhatToTakeAndFetch) {
  struct Case {
    const char* name;
    TestRelease release;
    const char* installed;  // installed.txt; nullptr: no install folder at all
    std::vector<std::size_t> present;  // release files on disk as published
    std::vector<std::size_t> damaged;  // release files on disk with other bytes
    std::vector<std::string> unlisted;  // other files in the install folder
    const wchar_t* version;             // expected version, of check and probe
    bool taken;
    std::vector<std::size_t> fetch;  // expected fetch, as indexes into the release's files
  };
  const Case kCases[] = {
      {"nothing installed: everything fetched, the launcher last",
       {"1.4", {kLauncher, kExe, kPak}}, nullptr, {}, {}, {}, L"1.4", true, {1, 2, 0}},
      {"no installed.txt, the launcher already current",
       {"0.1", {kExe, kPak, kLauncher}}, "", {2}, {}, {}, L"0.1", true, {0, 1}},
      {"older release ignored, files missing", {"1.4", {kExe, kPak}}, "1.5", {}, {}, {}, L"1.5", false, {}},
      {"older release ignored, files damaged", {"1.4", {kExe, kPak}}, "1.5", {}, {0, 1}, {}, L"1.5", false, {}},
      {"older rollback taken", {"1.4", {kExe, kPak}, "", true}, "1.5", {0, 1}, {}, {}, L"1.4", true, {}},
      {"older rollback with a missing file", {"1.4", {kExe, kPak}, "", true}, "1.5", {0}, {}, {}, L"1.4", true, {1}},
      {"same version, one damaged file, unlisted files ignored",
       {"1.4", {kExe, kPak, kLauncher}}, "1.4", {0, 2}, {1}, {"game/extra.pak", "game/data/base.pak.partial"},
       L"1.4", true, {1}},
      {"1.4 installed, 1.4.0 released", {"1.4.0", {kExe}}, "1.4", {0}, {}, {}, L"1.4.0", true, {}},
      {"1.4.0 installed, 1.4 released", {"1.4", {kExe}}, "1.4.0", {}, {}, {}, L"1.4.0", false, {}},
      {"01.4 installed, 1.4 released: the release's text", {"1.4", {kExe}}, "01.4", {0}, {}, {}, L"1.4", true, {}},
      {"newer release whose files already match", {"1.4", {kExe, kPak}}, "1.3", {0, 1}, {}, {}, L"1.4", true, {}},
      {"launcher listed first and damaged ends last",
       {"1.4", {kLauncher, kExe, kPak}}, "1.4", {}, {0}, {}, L"1.4", true, {1, 2, 0}},
      {"wrong published size is never compared",
       {"1.4", {WithSize(kExe, 999999), WithSize(kPak, 12345)}}, "1.4", {0}, {}, {}, L"1.4", true, {1}},
      {"a path listed twice is fetched twice",
       {"1.4", {kExe, kPak, kExe}}, "1.4", {1}, {}, {}, L"1.4", true, {0, 2}},
      {"a path whose status cannot be read (a file on the way) is fetched",
       {"1.4", {kExe, kPak}}, "1.4", {0}, {}, {"game/data"}, L"1.4", true, {1}},
  };
  for (const auto& c : kCases) {
    SCOPED_TRACE(c.name);
    TempFolder caseFolder;
    const std::wstring caseInstall = caseFolder / L"Stonewake";
    if (c.installed) {
      CreateDirectoryW(caseInstall.c_str(), nullptr);
      if (*c.installed) WriteFileBytes(JoinPath(caseInstall, L"installed.txt"), std::string(c.installed) + "\r\n");
    }
    for (std::size_t i : c.present) WriteFileBytes(InstallPath(caseInstall, c.release.files[i].path), c.release.files[i].content);
    for (std::size_t i : c.damaged) WriteFileBytes(InstallPath(caseInstall, c.release.files[i].path), "other bytes");
    for (const std::string& path : c.unlisted) WriteFileBytes(InstallPath(caseInstall, path), "unlisted");
    PublishRelease(server, c.release);
    const auto before = Snapshot(caseInstall);

    const ReleaseStatus status = CheckRelease(caseInstall, server.baseUrl());

    EXPECT_EQ(status.version, c.version);
    EXPECT_EQ(ProbeReleaseVersion(caseInstall, server.baseUrl()), status.version);
    EXPECT_EQ(status.files.size(), c.taken ? c.release.files.size() : 0u);
    for (std::size_t i = 0; i < status.files.size(); ++i) EXPECT_EQ(status.files[i].path, c.release.files[i].path);
    ASSERT_EQ(status.fetch.size(), c.fetch.size());
    std::uint64_t bytes = 0;
    for (std::size_t i = 0; i < c.fetch.size(); ++i) {
      const ReleaseFile& expected = c.release.files[c.fetch[i]];
      const std::uint64_t size = expected.publishedSize ? *expected.publishedSize : expected.content.size();
      EXPECT_EQ(status.fetch[i].path, expected.path) << "fetch entry " << i;
      EXPECT_EQ(status.fetch[i].sha256, Sha256Hex(expected.content)) << "fetch entry " << i;
      EXPECT_EQ(status.fetch[i].size, size) << "fetch entry " << i;
      bytes += size;
    }
    EXPECT_EQ(status.fetchBytes, bytes);
    EXPECT_EQ(Snapshot(caseInstall), before) << "the check and the probe only read";
  }
}

TEST_F(ReleaseCheckTest, AsksForTheSignedManifestAfreshAndNothingElse) {
  const TestRelease release{"1.4", {kExe, kPak}};
  PublishRelease(server, release);
  CheckRelease(install, server.baseUrl());
  ProbeReleaseVersion(install, server.baseUrl());
  CheckRelease(install, server.baseUrl());
  ASSERT_TRUE(server.WaitUntilIdle());
  EXPECT_EQ(server.RequestCount("/latest/manifest.txt"), 3u);
  EXPECT_EQ(server.RequestCount("/latest/manifest.sig"), 3u);
  EXPECT_EQ(server.Requests().size(), 6u) << "no object is downloaded by a check";
}

TEST_F(ReleaseCheckTest, AnIgnoredReleaseReadsNoGameFile) {
  const TestRelease release{"1.4", {kExe, kPak}};
  PublishRelease(server, release);
  Install(release, 0);
  Install(release, 1);
  HeldFile locked(InstallPath(install, kPak.path), Sharing::None);
  ASSERT_TRUE(locked.holding());

  RecordInstalled("1.5");
  const ReleaseStatus ignored = CheckRelease(install, server.baseUrl());
  EXPECT_EQ(ignored.version, L"1.5");
  EXPECT_TRUE(ignored.fetch.empty());

  // The same lock when the release is taken: the check has to read, and
  // cannot.
  RecordInstalled("1.4");
  EXPECT_EQ(ErrorOf([&] { CheckRelease(install, server.baseUrl()); }), L"Could not read base.pak.");
}

TEST_F(ReleaseCheckTest, AFolderOnTheWayThatCannotBeOpenedCountsAsAbsent) {
  // A stand-in for a folder without access rights on the way to every
  // listed file: nothing inside can be looked up, so all is fetched rather
  // than reported.
  const TestRelease release{"1.4", {kExe, kPak}};
  PublishRelease(server, release);
  const SealedFolder sealed(folder.path(), L"installed.txt");

  const ReleaseStatus status = CheckRelease(sealed.path(), server.baseUrl());
  ASSERT_EQ(status.fetch.size(), 2u);
  EXPECT_EQ(status.fetch[0].path, kExe.path);
  EXPECT_EQ(status.fetch[1].path, kPak.path);
}

TEST_F(ReleaseCheckTest, FailuresNameTheirCauseAndChangeNothing) {
  const TestRelease release{"1.4", {kExe, kPak}};
  const std::string manifest = ManifestText(release);
  using Keep = std::shared_ptr<void>;
  struct Case {
    const char* name;
    std::function<Keep()> setUp;
    std::wstring checkMessage;
    std::wstring probeMessage;  // empty: the probe succeeds, reading no game file
  };
  const Case kCases[] = {
      {"manifest changed after signing",
       [&] {
         PublishTamperedRelease(server, release, "version 1.4", "version 1.6");
         return Keep();
       },
       kNotVerifiedCheck, kNotVerifiedProbe},
      {"line ends changed after signing",
       [&] {
         std::string crlf;
         for (char c : manifest) crlf += c == '\n' ? std::string("\r\n") : std::string(1, c);
         ServeManifest(server, crlf, SignatureText(manifest));
         return Keep();
       },
       kNotVerifiedCheck, kNotVerifiedProbe},
      {"signature file malformed",
       [&] {
         ServeManifest(server, manifest, "ecdsa-p256-sha256 " + std::string(127, 'a') + "z\n");
         return Keep();
       },
       L"The release signature could not be read.", L"The release signature could not be read."},
      {"signed manifest that breaks the grammar",
       [&] {
         const std::string broken = "stonewake-manifest 1\nversion 1.4\nend\n";
         ServeManifest(server, broken, SignatureText(broken));
         return Keep();
       },
       L"The release information could not be read.", L"The release information could not be read."},
      // Refused before anything is fetched: the download would write to a
      // device, outside the install folder.
      {"signed manifest naming a device",
       [&] {
         const std::string text = ManifestText(TestRelease{"1.4", {kExe, WithPath(kPak, "game/aux.txt")}});
         ServeManifest(server, text, SignatureText(text));
         return Keep();
       },
       L"The release information could not be read.", L"The release information could not be read."},
      {"no manifest on the server",
       [&] {
         server.Set("/latest/manifest.txt", TestResponse::Status(404));
         return Keep();
       },
       L"The release server did not have what the launcher asked for.",
       L"The release server did not have what the launcher asked for."},
      {"a folder at a listed path",
       [&] {
         PublishRelease(server, release);
         std::filesystem::create_directories(std::filesystem::path(InstallPath(install, kPak.path)));
         return Keep();
       },
       L"Could not read base.pak.", L""},
      {"a listed file held without read sharing",
       [&] {
         PublishRelease(server, release);
         WriteFileBytes(InstallPath(install, kExe.path), kExe.content);
         return Keep(std::make_shared<HeldFile>(InstallPath(install, kExe.path), Sharing::None));
       },
       L"Could not read Stonewake.exe.", L""},
  };
  for (const auto& c : kCases) {
    SCOPED_TRACE(c.name);
    CreateDirectoryW(install.c_str(), nullptr);
    RecordInstalled("1.3");
    const Keep kept = c.setUp();
    const auto before = Snapshot(install);

    EXPECT_EQ(ErrorOf([&] { CheckRelease(install, server.baseUrl()); }), c.checkMessage);
    if (c.probeMessage.empty()) {
      EXPECT_EQ(ProbeReleaseVersion(install, server.baseUrl()), L"1.4");
    } else {
      EXPECT_EQ(ErrorOf([&] { ProbeReleaseVersion(install, server.baseUrl()); }), c.probeMessage);
    }
    EXPECT_EQ(Snapshot(install), before);

    server.Set("/latest/manifest.txt", TestResponse::Status(404));
    server.Set("/latest/manifest.sig", TestResponse::Status(404));
  }
}

TEST(TakesRelease, OnlyAnOlderReleaseThatIsNoRollbackIsIgnored) {
  struct Case {
    const char* name;
    const char* release;
    bool rollback;
    const wchar_t* installed;
    bool taken;
  };
  const Case kCases[] = {
      {"nothing installed, any version", "0", false, L"", true},
      {"newer", "1.10", false, L"1.9", true},
      {"same", "1.4", false, L"1.4", true},
      {"same by order, other text", "1.4", false, L"1.4.x", false},
      {"older", "1.4", false, L"1.5", false},
      {"older rollback", "1.4", true, L"1.5", true},
      {"prefix orders first", "1.4", false, L"1.4.0", false},
      {"longer is newer", "1.4.0", false, L"1.4", true},
  };
  for (const auto& c : kCases) {
    SCOPED_TRACE(c.name);
    Manifest manifest;
    manifest.version = c.release;
    manifest.rollback = c.rollback;
    EXPECT_EQ(TakesRelease(manifest, c.installed), c.taken);
  }
}

}  // namespace
}  // namespace launcher
