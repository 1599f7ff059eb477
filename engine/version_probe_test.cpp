// The probe with the release it remembers: what each request costs and that
// no answer differs from the one a fresh process would give for the same
// server content (the release check's own tests cover the version rules).
#include "engine/version_probe.h"

#include <gtest/gtest.h>

#include <atomic>
#include <string>
#include <thread>
#include <vector>

#include "core/paths.h"
#include "core/text.h"
#include "engine/release_check.h"
#include "engine/verified_manifest.h"
#include "test_support/error_message.h"
#include "test_support/signed_manifests.h"
#include "test_support/temp_folder.h"
#include "test_support/test_release.h"
#include "test_support/test_server.h"

namespace launcher {
namespace {

using testing::kManifestA;
using testing::kManifestB;
using testing::kSignatureA;
using testing::kSignatureAOtherKey;
using testing::kSignatureB;
using testing::SignatureFile;
using testing::TempFolder;
using testing::TestResponse;
using testing::TestServer;

const std::wstring kNotVerified = L"The release could not be verified.";
const std::wstring kUnreadableSignature = L"The release signature could not be read.";
const std::wstring kTooMuch = L"The release server sent more than expected.";

class RememberedProbeTest : public ::testing::Test {
 protected:
  void Serve(const std::string& manifest, const TestResponse& signature) {
    server.Set("/latest/manifest.txt", TestResponse::Ok(manifest));
    server.Set("/latest/manifest.sig", signature);
  }
  void Serve(const std::string& manifest, const std::string& signatureDigits) {
    Serve(manifest, TestResponse::Ok(SignatureFile(signatureDigits)));
  }

  // The probe's answer, or its error message prefixed with "error: ".
  std::wstring Probe(VerifiedManifestMemory& with) {
    std::wstring answer;
    const std::wstring error =
        testing::ErrorMessageOf([&] { answer = ProbeReleaseVersion(install, with, server.baseUrl()); });
    return error.empty() ? answer : L"error: " + error;
  }
  std::wstring ProbeOfAFreshProcess() {
    VerifiedManifestMemory fresh;
    return Probe(fresh);
  }
  std::size_t ManifestRequests() const { return server.RequestCount("/latest/manifest.txt"); }
  std::size_t SignatureRequests() const { return server.RequestCount("/latest/manifest.sig"); }

  TestServer server;
  TempFolder folder;
  const std::wstring install = folder / L"Stonewake";
  VerifiedManifestMemory memory;
};

TEST_F(RememberedProbeTest, AnUnchangedReleaseCostsOneSignatureRequestPerProbe) {
  Serve(kManifestA, kSignatureA);
  for (int i = 0; i < 20; ++i) ASSERT_EQ(Probe(memory), L"1.4.2") << "probe " << i;
  EXPECT_EQ(SignatureRequests(), 20u);
  EXPECT_EQ(ManifestRequests(), 1u);

  Serve(kManifestB, kSignatureB);
  for (int i = 0; i < 5; ++i) ASSERT_EQ(Probe(memory), L"1.4.3") << "probe " << i << " of the new release";
  EXPECT_EQ(ManifestRequests(), 2u) << "a changed signature costs exactly one manifest request";
  EXPECT_EQ(ProbeOfAFreshProcess(), L"1.4.3");
}

// One launcher's probes through a sequence of server states, each row after
// the one before it: the answer, and how many manifest requests the row
// cost. `fresh` is what a process that remembers nothing answers for the
// same server content, where that must be the same.
TEST_F(RememberedProbeTest, EveryServerStateGetsTheRightAnswerForItsManifestRequests) {
  TestResponse oversized = TestResponse::Ok(SignatureFile(kSignatureB));
  oversized.fillerBytes = kMaxSignatureFileBytes;
  struct Step {
    const char* name;
    std::string manifest;
    TestResponse signature;
    std::wstring answer;
    std::size_t manifestRequests;
    bool sameAsFresh = true;
  };
  const auto Signed = [](const std::string& digits) { return TestResponse::Ok(SignatureFile(digits)); };
  const Step kSteps[] = {
      {"first probe", kManifestA, Signed(kSignatureA), L"1.4.2", 1},
      {"unchanged", kManifestA, Signed(kSignatureA), L"1.4.2", 0},
      // Publishing renames the manifest before the signature: in between,
      // the old signature still names the old release, and the probe keeps
      // answering it where a fresh process could not verify anything.
      {"new manifest beside the old signature", kManifestB, Signed(kSignatureA), L"1.4.2", 0, false},
      {"then the new signature", kManifestB, Signed(kSignatureB), L"1.4.3", 1},
      {"unchanged again", kManifestB, Signed(kSignatureB), L"1.4.3", 0},
      // A changed signature that does not verify its manifest is an error
      // once the pair was asked for a second time (a cache's torn read
      // would have healed), and the good pair stays remembered.
      {"signature of another manifest", kManifestB, Signed(kSignatureA), L"error: " + kNotVerified, 2},
      {"the remembered pair back", kManifestB, Signed(kSignatureB), L"1.4.3", 0},
      {"signature made with another key", kManifestA, Signed(kSignatureAOtherKey), L"error: " + kNotVerified, 2},
      {"malformed signature", kManifestB, TestResponse::Ok("ecdsa-p256-sha256 " + kSignatureB.substr(2)),
       L"error: " + kUnreadableSignature, 0},
      {"signature over its ceiling", kManifestB, oversized, L"error: " + kTooMuch, 0},
      {"a signature that is not there", kManifestB, TestResponse::Status(404),
       L"error: The release server did not have what the launcher asked for.", 0},
      {"the remembered pair once more", kManifestB, Signed(kSignatureB), L"1.4.3", 0},
      // A signature that alternates between two releases: each change costs
      // a manifest request, never a wrong answer.
      {"alternating: A", kManifestA, Signed(kSignatureA), L"1.4.2", 1},
      {"alternating: B", kManifestB, Signed(kSignatureB), L"1.4.3", 1},
      {"alternating: A again", kManifestA, Signed(kSignatureA), L"1.4.2", 1},
      {"alternating: B again", kManifestB, Signed(kSignatureB), L"1.4.3", 1},
      // The same signature bytes with a line end of another kind are another
      // file: fetched and verified again, same answer.
      {"the same signature with CR LF", kManifestB,
       TestResponse::Ok("ecdsa-p256-sha256 " + kSignatureB + "\r\n"), L"1.4.3", 1},
  };
  for (const Step& step : kSteps) {
    SCOPED_TRACE(step.name);
    Serve(step.manifest, step.signature);
    const std::size_t before = ManifestRequests();
    EXPECT_EQ(Probe(memory), step.answer);
    EXPECT_EQ(ManifestRequests() - before, step.manifestRequests);
    if (step.sameAsFresh) {
      EXPECT_EQ(ProbeOfAFreshProcess(), step.answer);
    }
  }
}

// installed.txt is read afresh by every probe, remembered release or not:
// another process may have installed something else meanwhile.
TEST_F(RememberedProbeTest, FollowsInstalledVersionChangedBetweenProbes) {
  Serve(kManifestA, kSignatureA);
  struct Case {
    const char* installed;  // nullptr: no installed.txt
    const wchar_t* answer;
  };
  const Case kCases[] = {
      {nullptr, L"1.4.2"},
      {"1.5", L"1.5"},  // a newer install than the release, which is no rollback
      {"1.4.2", L"1.4.2"},
      {"1.4", L"1.4.2"},
      {"1.5", L"1.5"},
  };
  for (const Case& c : kCases) {
    SCOPED_TRACE(c.installed ? c.installed : "nothing");
    if (c.installed) testing::WriteFileBytes(JoinPath(install, L"installed.txt"), std::string(c.installed) + "\r\n");
    EXPECT_EQ(Probe(memory), c.answer);
  }
  EXPECT_EQ(ManifestRequests(), 1u);
}

// The check after a probe saw the release takes the remembered manifest,
// and still reads every listed file: a damaged file is found.
TEST(RememberedCheck, TakesTheProbedReleaseAndStillHashesEveryFile) {
  TestServer server;
  TempFolder folder;
  const std::wstring install = folder / L"Stonewake";
  const testing::TestRelease release{"1.0", {{"game/a.pak", "first"}, {"game/b.pak", "second"}}};
  testing::PublishRelease(server, release);
  testing::WriteInstall(install, release, "1.0");
  VerifiedManifestMemory memory;
  EXPECT_EQ(ProbeReleaseVersion(install, memory, server.baseUrl()), L"1.0");
  EXPECT_TRUE(CheckRelease(install, memory, server.baseUrl()).fetch.empty());

  testing::WriteFileBytes(testing::InstallPath(install, "game/b.pak"), "damaged");
  const ReleaseStatus status = CheckRelease(install, memory, server.baseUrl());
  ASSERT_EQ(status.fetch.size(), 1u);
  EXPECT_EQ(status.fetch[0].path, "game/b.pak");
  EXPECT_EQ(server.RequestCount("/latest/manifest.txt"), 1u);
  EXPECT_EQ(server.RequestCount("/latest/manifest.sig"), 3u);
}

// Probes and checks on three threads share one memory while each asks two
// servers in turn, so the remembered pair is replaced on nearly every call
// and the threads race to read and replace it. Every answer must belong
// whole to the server asked: its version, and for a check its file list.
TEST(RememberedProbeThreads, ProbesAndChecksAtOnceNeverMixTwoReleases) {
  TestServer servers[2];
  TempFolder folder;
  const std::wstring install = folder / L"Stonewake";
  const testing::TestRelease releases[2] = {
      {"1.0", {{"game/a.pak", "first"}}},
      {"2.0", {{"game/b.pak", "second"}, {"game/c.pak", "third"}}},
  };
  for (int i = 0; i < 2; ++i) testing::PublishRelease(servers[i], releases[i]);
  VerifiedManifestMemory memory;
  constexpr int kRounds = 200;
  std::atomic<int> wrong{0};
  std::atomic<int> failed{0};

  const auto probes = [&](int first) {
    for (int round = 0; round < kRounds; ++round) {
      const int which = (round + first) % 2;
      try {
        const std::wstring answer = ProbeReleaseVersion(install, memory, servers[which].baseUrl());
        if (answer != WidenAscii(releases[which].version)) ++wrong;
      } catch (const LauncherError&) {
        ++failed;
      }
    }
  };
  const auto checks = [&] {
    for (int round = 0; round < kRounds; ++round) {
      const int which = round % 2;
      try {
        const ReleaseStatus status = CheckRelease(install, memory, servers[which].baseUrl());
        const auto& files = releases[which].files;
        bool same = status.version == WidenAscii(releases[which].version) && status.files.size() == files.size();
        for (std::size_t i = 0; same && i < files.size(); ++i) same = status.files[i].path == files[i].path;
        if (!same) ++wrong;
      } catch (const LauncherError&) {
        ++failed;
      }
    }
  };
  std::thread threads[] = {std::thread(probes, 0), std::thread(probes, 1), std::thread(checks)};
  for (std::thread& thread : threads) thread.join();
  EXPECT_EQ(wrong.load(), 0);
  EXPECT_EQ(failed.load(), 0);
}

}  // namespace
}  // namespace launcher
