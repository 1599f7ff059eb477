#include "release/signature.h"

#include <gtest/gtest.h>

#include <functional>
#include <string>

#include "release/signature_file.h"
#include "test_support/error_message.h"
#include "test_support/test_server.h"

namespace launcher {
namespace {

using testing::TestResponse;
using testing::TestServer;

// Two releases and a manifest that breaks the grammar (a path with ".."),
// each signed with openssl and the test-only release key, and the first one
// signed again with a key the launcher does not trust.
const std::string kManifestA =
    "stonewake-manifest 1\n"
    "version 1.4.2\n"
    "commit 9f3c2e1\n"
    "file 1111111111111111111111111111111111111111111111111111111111111111 18342912 game/Stonewake.exe\n"
    "file 3333333333333333333333333333333333333333333333333333333333333333 2730496 Stonewake Launcher.exe\n"
    "end\n";
const std::string kManifestB =
    "stonewake-manifest 1\n"
    "version 1.4.3\n"
    "commit 9f3c2e1\n"
    "file 1111111111111111111111111111111111111111111111111111111111111111 18342912 game/Stonewake.exe\n"
    "file 3333333333333333333333333333333333333333333333333333333333333333 2730496 Stonewake Launcher.exe\n"
    "end\n";
const std::string kMalformed =
    "stonewake-manifest 1\n"
    "version 1.4.2\n"
    "file 1111111111111111111111111111111111111111111111111111111111111111 18342912 game/../Stonewake.exe\n"
    "end\n";

const std::string kSignatureA =
    "2534a9682b7657eb00ba6773e3f79f7614b2cfea2f9e30f3b91081d8989bbcbf"
    "55ca7f2b2fd14fe8dab5fe26470fe5ce7b74331e1707f4abc14e24c1c2202863";
const std::string kSignatureB =
    "655edc7d417aec9416d4df7eeca8f11948d8658ba4bfa65d58d7a9d36c602dd0"
    "4630708b56e6a0606568cc415111f9da790838163c5119513b52e66b5f3e543b";
const std::string kSignatureMalformed =
    "34fc2b56990c1ae861b2aa0385666f143512ab34e1cae35a87a1718d47b67720"
    "4d0860fcfa1ce2187dfb51f116b4076209436c4f7083b0c0a55cf60525a9cdd0";
const std::string kSignatureAOtherKey =
    "6c0122622f709a13ebfff3c9d04aecd5e7e6c066fe9fab4a35e209458933970f"
    "636545d3ca974f6e8e8691f23fe90dc1af9255c4c4d03ec8229281bc3debf2b8";

const std::wstring kCheckFailure = L"The release could not be verified, so nothing was changed.";
const std::wstring kProbeFailure = L"The release could not be verified.";

std::vector<std::uint8_t> Bytes(const std::string& text) { return std::vector<std::uint8_t>(text.begin(), text.end()); }

std::vector<std::uint8_t> Signature(const std::string& digits) {
  return ParseSignatureFile(Bytes("ecdsa-p256-sha256 " + digits));
}

std::string SignatureFile(const std::string& digits) { return "ecdsa-p256-sha256 " + digits + "\n"; }

std::string WithCrLf(const std::string& text) {
  std::string out;
  for (char c : text) {
    if (c == '\n') out += '\r';
    out += c;
  }
  return out;
}

std::string Upper(std::string text) {
  for (char& c : text) c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
  return text;
}

bool Verifies(const std::string& manifest, const std::vector<std::uint8_t>& signature) {
  return VerifyManifestSignature(Bytes(manifest), signature);
}

TEST(VerifyManifestSignature, AcceptsSignaturesMadeByOpenssl) {
  EXPECT_TRUE(Verifies(kManifestA, Signature(kSignatureA)));
  EXPECT_TRUE(Verifies(kManifestB, Signature(kSignatureB)));
  EXPECT_TRUE(Verifies(kMalformed, Signature(kSignatureMalformed)));
}

TEST(VerifyManifestSignature, RefusesWhatTheKeyDidNotSign) {
  std::vector<std::uint8_t> swapped = Signature(kSignatureA);
  std::rotate(swapped.begin(), swapped.begin() + 32, swapped.end());
  struct Case {
    const char* name;
    std::string manifest;
    std::vector<std::uint8_t> signature;
  };
  const Case kCases[] = {
      {"LF turned into CR LF", WithCrLf(kManifestA), Signature(kSignatureA)},
      {"a line end more", kManifestA + "\n", Signature(kSignatureA)},
      {"last byte gone", kManifestA.substr(0, kManifestA.size() - 1), Signature(kSignatureA)},
      {"empty manifest", "", Signature(kSignatureA)},
      {"another key", kManifestA, Signature(kSignatureAOtherKey)},
      {"signature of another manifest", kManifestA, Signature(kSignatureB)},
      {"r and s swapped", kManifestA, swapped},
      {"all zero", kManifestA, std::vector<std::uint8_t>(64, 0)},
      {"63 bytes", kManifestA, std::vector<std::uint8_t>(swapped.begin(), swapped.end() - 1)},
      {"empty signature", kManifestA, {}},
  };
  for (const auto& c : kCases) {
    SCOPED_TRACE(c.name);
    EXPECT_FALSE(Verifies(c.manifest, c.signature));
  }
}

TEST(VerifyManifestSignature, EveryChangedByteFails) {
  const std::vector<std::uint8_t> signature = Signature(kSignatureA);
  for (std::size_t i = 0; i < kManifestA.size(); ++i) {
    std::string changed = kManifestA;
    changed[i] = static_cast<char>(changed[i] ^ 0x01);
    EXPECT_FALSE(Verifies(changed, signature)) << "manifest byte " << i;
  }
  for (std::size_t i = 0; i < signature.size(); ++i) {
    std::vector<std::uint8_t> changed = signature;
    changed[i] ^= 0x80;
    EXPECT_FALSE(Verifies(kManifestA, changed)) << "signature byte " << i;
  }
}

class FetchVerifiedManifestTest : public ::testing::Test {
 protected:
  void Serve(const TestResponse& manifest, const TestResponse& signature) {
    server.Set("/latest/manifest.txt", manifest);
    server.Set("/latest/manifest.sig", signature);
  }

  // The error FetchVerifiedManifest throws, or "(no error)".
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
  };
  for (const auto& c : kCases) {
    SCOPED_TRACE(c.name);
    Serve(TestResponse::Ok(kManifestA), TestResponse::Ok(c.signatureFile));
    const Manifest manifest = FetchVerifiedManifest(server.baseUrl(), kProbeFailure);
    EXPECT_EQ(manifest.version, "1.4.2");
    EXPECT_EQ(manifest.commit, "9f3c2e1");
    ASSERT_EQ(manifest.files.size(), 2u);
    EXPECT_EQ(manifest.files[1].path, "Stonewake Launcher.exe");
  }
  // Each call fetches both files afresh, manifest first.
  const std::vector<testing::RecordedRequest> requests = server.Requests();
  ASSERT_EQ(requests.size(), 6u);
  for (std::size_t i = 0; i < requests.size(); ++i) {
    EXPECT_EQ(requests[i].path, i % 2 == 0 ? "/latest/manifest.txt" : "/latest/manifest.sig");
  }
}

TEST_F(FetchVerifiedManifestTest, FailsWithTheSentenceOfTheFirstFailingStep) {
  TestResponse cutShort = TestResponse::Ok(kManifestA);
  cutShort.closeAfter = kManifestA.size() - 4;
  TestResponse oversized;
  oversized.fillerBytes = 1048577;
  struct Case {
    const char* name;
    TestResponse manifest;
    TestResponse signature;
    std::wstring message;
  };
  const Case kCases[] = {
      {"manifest missing", TestResponse::Status(404), TestResponse::Ok(SignatureFile(kSignatureA)),
       L"The release server did not have what the launcher asked for."},
      {"manifest over 1 MiB", oversized, TestResponse::Ok(SignatureFile(kSignatureA)),
       L"The release server sent more than expected."},
      // Both files are fetched before either is examined.
      {"signature missing, manifest malformed", TestResponse::Ok(kMalformed), TestResponse::Status(404),
       L"The release server did not have what the launcher asked for."},
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

TEST_F(FetchVerifiedManifestTest, FailedManifestFetchLeavesTheSignatureAlone) {
  Serve(TestResponse::Status(404), TestResponse::Ok(SignatureFile(kSignatureA)));
  EXPECT_EQ(ErrorOf(), L"The release server did not have what the launcher asked for.");
  EXPECT_EQ(server.RequestCount("/latest/manifest.txt"), 1u);
  EXPECT_EQ(server.RequestCount("/latest/manifest.sig"), 0u);
}

TEST_F(FetchVerifiedManifestTest, ThrowsTheCallersMessage) {
  Serve(TestResponse::Ok(kManifestB), TestResponse::Ok(SignatureFile(kSignatureA)));
  EXPECT_EQ(ErrorOf(kCheckFailure), kCheckFailure);
  EXPECT_EQ(ErrorOf(kProbeFailure), kProbeFailure);
}

}  // namespace
}  // namespace launcher
