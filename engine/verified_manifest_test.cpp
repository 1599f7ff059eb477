#include "engine/verified_manifest.h"

#include <gtest/gtest.h>

#include <chrono>
#include <cstdio>
#include <future>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include "files/system_handles.h"
#include "test_support/error_message.h"
#include "test_support/signed_manifests.h"
#include "test_support/test_release.h"
#include "test_support/test_server.h"
#include "transfer/http_request.h"

namespace launcher {
namespace {

using testing::kMalformed;
using testing::kManifestA;
using testing::kManifestB;
using testing::kSignatureA;
using testing::kSignatureAOtherKey;
using testing::kSignatureB;
using testing::kSignatureMalformed;
using testing::SignatureFile;
using testing::TestResponse;
using testing::TestServer;
using testing::Upper;
using testing::WithCrLf;

const std::wstring kCheckFailure = L"The release could not be verified, so nothing was changed.";
const std::wstring kProbeFailure = L"The release could not be verified.";

class FetchVerifiedManifestTest : public ::testing::Test {
 protected:
  void Serve(const TestResponse& manifest, const TestResponse& signature) {
    server.Set("/latest/manifest.txt", manifest);
    server.Set("/latest/manifest.sig", signature);
  }

  // The error FetchVerifiedManifest throws, or empty.
  std::wstring ErrorOf(std::wstring_view failureMessage = kCheckFailure) {
    return testing::ErrorMessageOf([&] { FetchVerifiedManifest(server.baseUrl(), failureMessage); });
  }

  TestServer server;
};

TEST_F(FetchVerifiedManifestTest, ReturnsTheVerifiedManifest) {
  struct Case {
    const char* name;
    std::string signatureFile;
  };
  const Case kCases[] = {
      {"lower case, LF", SignatureFile(kSignatureA)},
      {"upper case, CR LF", "ecdsa-p256-sha256 " + Upper(kSignatureA) + "\r\n"},
      {"exactly 146 bytes", "ecdsa-p256-sha256 " + kSignatureA},
      {"trailing bytes up to the signature's ceiling",
       SignatureFile(kSignatureA) + std::string(kMaxSignatureFileBytes - 147, 'x')},
  };
  for (const auto& c : kCases) {
    SCOPED_TRACE(c.name);
    Serve(TestResponse::Ok(kManifestA), TestResponse::Ok(c.signatureFile));
    const Manifest manifest = *FetchVerifiedManifest(server.baseUrl(), kProbeFailure);
    EXPECT_EQ(manifest.version, "1.4.2");
    EXPECT_EQ(manifest.commit, "9f3c2e1");
    ASSERT_EQ(manifest.files.size(), 2u);
    EXPECT_EQ(manifest.files[1].path, "Stonewake Launcher.exe");
  }
  // With nothing remembered each call fetches both files, signature first.
  const std::vector<testing::RecordedRequest> requests = server.Requests();
  ASSERT_EQ(requests.size(), 8u);
  for (std::size_t i = 0; i < requests.size(); ++i) {
    EXPECT_EQ(requests[i].path, i % 2 == 0 ? "/latest/manifest.sig" : "/latest/manifest.txt");
  }
}

TEST_F(FetchVerifiedManifestTest, FailsWithTheSentenceOfTheFirstFailingStep) {
  TestResponse cutShort = TestResponse::Ok(kManifestA);
  cutShort.closeAfter = kManifestA.size() - 4;
  TestResponse oversized;
  oversized.fillerBytes = kMaxManifestBytes + 1;
  TestResponse oversizedSignature = TestResponse::Ok(SignatureFile(kSignatureA));
  oversizedSignature.fillerBytes = kMaxSignatureFileBytes + 1 - oversizedSignature.body.size();
  struct Case {
    const char* name;
    TestResponse manifest;
    TestResponse signature;
    std::wstring message;
  };
  const Case kCases[] = {
      {"manifest missing", TestResponse::Status(404), TestResponse::Ok(SignatureFile(kSignatureA)),
       L"The release server did not have what the launcher asked for."},
      {"manifest one byte over its ceiling", oversized, TestResponse::Ok(SignatureFile(kSignatureA)),
       L"The release server sent more than expected."},
      {"signature missing, manifest malformed", TestResponse::Ok(kMalformed), TestResponse::Status(404),
       L"The release server did not have what the launcher asked for."},
      // A request every open launcher repeats cannot be made to pull a large
      // body: a valid signature followed by more bytes than the ceiling.
      {"signature one byte over its ceiling", TestResponse::Ok(kManifestA), oversizedSignature,
       L"The release server sent more than expected."},
      // The signature file is read before any cryptography runs.
      {"signature of 145 bytes, manifest changed", TestResponse::Ok(WithCrLf(kManifestA)),
       TestResponse::Ok("ecdsa-p256-sha256 " + kSignatureA.substr(1)), L"The release signature could not be read."},
      {"signature prefix in upper case", TestResponse::Ok(kManifestA),
       TestResponse::Ok("ECDSA-P256-SHA256 " + kSignatureA + "\n"), L"The release signature could not be read."},
      {"signature prefix with two spaces", TestResponse::Ok(kManifestA),
       TestResponse::Ok("ecdsa-p256-sha256  " + kSignatureA + "\n"), L"The release signature could not be read."},
      {"signature with a non-hex digit", TestResponse::Ok(kManifestA),
       TestResponse::Ok("ecdsa-p256-sha256 " + kSignatureA.substr(0, 127) + "g\n"),
       L"The release signature could not be read."},
      // Changes that still parse are caught by the signature alone.
      {"manifest with CR LF line ends", TestResponse::Ok(WithCrLf(kManifestA)),
       TestResponse::Ok(SignatureFile(kSignatureA)), kCheckFailure},
      {"manifest with one byte changed", TestResponse::Ok(kManifestB), TestResponse::Ok(SignatureFile(kSignatureA)),
       kCheckFailure},
      {"manifest cut short", cutShort, TestResponse::Ok(SignatureFile(kSignatureA)), kCheckFailure},
      {"another key", TestResponse::Ok(kManifestA), TestResponse::Ok(SignatureFile(kSignatureAOtherKey)),
       kCheckFailure},
      // The grammar is checked only after the signature holds.
      {"malformed manifest, another manifest's signature", TestResponse::Ok(kMalformed),
       TestResponse::Ok(SignatureFile(kSignatureA)), kCheckFailure},
      {"malformed manifest, valid signature", TestResponse::Ok(kMalformed),
       TestResponse::Ok(SignatureFile(kSignatureMalformed)), L"The release information could not be read."},
  };
  for (const auto& c : kCases) {
    SCOPED_TRACE(c.name);
    Serve(c.manifest, c.signature);
    EXPECT_EQ(ErrorOf(), c.message);
  }
}

// The signature is fetched and read first; a manifest is asked for only
// when there is a readable signature to verify it with.
TEST_F(FetchVerifiedManifestTest, NoManifestRequestWithoutAReadableSignature) {
  TestResponse oversized = TestResponse::Ok(SignatureFile(kSignatureA));
  oversized.fillerBytes = kMaxSignatureFileBytes;
  const TestResponse kSignatures[] = {TestResponse::Status(404), TestResponse::Ok(SignatureFile(kSignatureA).substr(1)),
                                      oversized};
  for (const TestResponse& signature : kSignatures) {
    Serve(TestResponse::Ok(kManifestA), signature);
    EXPECT_NE(ErrorOf(), L"");
  }
  EXPECT_EQ(server.RequestCount("/latest/manifest.sig"), 3u);
  EXPECT_EQ(server.RequestCount("/latest/manifest.txt"), 0u);
}

// A signed manifest of exactly `size` bytes whose text after "end" is
// `trailer` (which the parser ignores): long file lines, all in one deep
// folder chain, the last path made to fit.
std::string SignedManifestOfSize(std::size_t size, const std::string& trailer = "") {
  std::string chain = "game";
  for (int i = 0; i < 14; ++i) chain += "/" + std::string(200, static_cast<char>('a' + i));
  const std::string head = "stonewake-manifest 1\nversion 9.0\n";
  const std::string end = "end\n" + trailer;
  const auto Line = [](const std::string& path) { return "file " + std::string(64, 'c') + " 7 " + path + "\n"; };
  std::string text = head;
  const std::size_t line = Line(chain + "/000000").size();
  for (int i = 0; text.size() + end.size() + 2 * line <= size; ++i) {
    char number[12];  // any int, so the compiler sees that nothing is cut off
    std::snprintf(number, sizeof number, "%06d", i);
    text += Line(chain + "/" + number);
  }
  std::size_t rest = size - text.size() - end.size() - Line("").size() - 4;
  std::string last = "game";
  for (; rest > 240; rest -= 200) last += "/" + std::string(199, 'z');
  text += Line(last + "/zz" + std::string(rest - 3, 'l')) + end;
  return text;
}

TEST_F(FetchVerifiedManifestTest, AManifestUpToItsCeilingAndNotOneByteMore) {
  const std::string atCeiling = SignedManifestOfSize(kMaxManifestBytes);
  ASSERT_EQ(atCeiling.size(), kMaxManifestBytes);
  Serve(TestResponse::Ok(atCeiling), TestResponse::Ok(testing::SignatureText(atCeiling)));
  const std::shared_ptr<const Manifest> manifest = FetchVerifiedManifest(server.baseUrl(), kCheckFailure);
  EXPECT_EQ(manifest->version, "9.0");
  EXPECT_GT(manifest->files.size(), 10000u);

  // One byte more, after "end": the same release, refused for its size
  // before anything else is looked at.
  const std::string over = SignedManifestOfSize(kMaxManifestBytes + 1, "x");
  Serve(TestResponse::Ok(over), TestResponse::Ok(testing::SignatureText(over)));
  EXPECT_EQ(ErrorOf(), L"The release server sent more than expected.");
}

// A cache in front of the server may hand out the new signature with the
// old manifest (or the reverse) for a moment during a publish. Both files
// are asked for once more after a short pause: a pair that then verifies is
// the answer, one that still fails is reported as before, after two tries.
TEST_F(FetchVerifiedManifestTest, ATornReadIsAskedForOnceMore) {
  struct Case {
    const char* name;
    std::string manifest;  // served until the first manifest request
    std::string signature;
    std::string manifestThen;  // served after it
    std::string signatureThen;
    std::wstring error;  // empty: release 1.4.3
  };
  const Case kCases[] = {
      {"new signature, old manifest", kManifestA, SignatureFile(kSignatureB), kManifestB, SignatureFile(kSignatureB),
       L""},
      {"old signature, new manifest", kManifestB, SignatureFile(kSignatureA), kManifestB, SignatureFile(kSignatureB),
       L""},
      {"torn for longer", kManifestA, SignatureFile(kSignatureB), kManifestA, SignatureFile(kSignatureB),
       kProbeFailure},
  };
  for (const auto& c : kCases) {
    SCOPED_TRACE(c.name);
    Serve(TestResponse::Ok(c.manifest), TestResponse::Ok(c.signature));
    const std::size_t signaturesBefore = server.RequestCount("/latest/manifest.sig");
    const std::size_t manifestsBefore = server.RequestCount("/latest/manifest.txt");
    auto fetch = std::async(std::launch::async, [&] {
      std::string version;
      const std::wstring error =
          testing::ErrorMessageOf([&] { version = FetchVerifiedManifest(server.baseUrl(), kProbeFailure)->version; });
      return std::make_pair(version, error);
    });
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(10);
    while (server.RequestCount("/latest/manifest.txt") == manifestsBefore &&
           std::chrono::steady_clock::now() < deadline) {
      std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    Serve(TestResponse::Ok(c.manifestThen), TestResponse::Ok(c.signatureThen));
    const auto [version, error] = fetch.get();
    EXPECT_EQ(error, c.error);
    if (c.error.empty()) {
      EXPECT_EQ(version, "1.4.3");
    }
    EXPECT_EQ(server.RequestCount("/latest/manifest.sig") - signaturesBefore, 2u);
    EXPECT_EQ(server.RequestCount("/latest/manifest.txt") - manifestsBefore, 2u);
  }
}

// A server that takes the requests and says nothing holds a probe for the
// 30-second receive time-out; the window's stop ends it at once, whichever
// of the two files it waits for.
TEST_F(FetchVerifiedManifestTest, EndsPromptlyOnceStopped) {
  TestResponse silent;
  silent.stallBeforeHeaders = std::chrono::minutes(2);
  struct Case {
    const char* name;
    TestResponse manifest;
    TestResponse signature;
  };
  const Case kCases[] = {
      {"waiting for the signature", TestResponse::Ok(kManifestA), silent},
      {"waiting for the manifest", silent, TestResponse::Ok(SignatureFile(kSignatureA))},
  };
  for (const auto& c : kCases) {
    SCOPED_TRACE(c.name);
    Serve(c.manifest, c.signature);
    const KernelHandle stop(CreateEventW(nullptr, TRUE, FALSE, nullptr));
    VerifiedManifestMemory memory;
    auto fetch = std::async(std::launch::async, [&] {
      try {
        FetchVerifiedManifest(server.baseUrl(), kProbeFailure, memory, stop.get());
      } catch (const TransferStopped&) {
        return true;
      } catch (...) {
      }
      return false;
    });
    std::this_thread::sleep_for(std::chrono::milliseconds(500));
    SetEvent(stop.get());
    ASSERT_EQ(fetch.wait_for(std::chrono::seconds(3)), std::future_status::ready);
    EXPECT_TRUE(fetch.get());
  }
}

TEST_F(FetchVerifiedManifestTest, ThrowsTheCallersMessage) {
  Serve(TestResponse::Ok(kManifestB), TestResponse::Ok(SignatureFile(kSignatureA)));
  EXPECT_EQ(ErrorOf(kCheckFailure), kCheckFailure);
  EXPECT_EQ(ErrorOf(kProbeFailure), kProbeFailure);
}

}  // namespace
}  // namespace launcher
