#include "release/signature.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <string>
#include <vector>

#include "test_support/signed_manifests.h"

namespace launcher {
namespace {

using testing::Bytes;
using testing::kMalformed;
using testing::kManifestA;
using testing::kManifestB;
using testing::kSignatureA;
using testing::kSignatureAOtherKey;
using testing::kSignatureB;
using testing::kSignatureMalformed;
using testing::Signature;
using testing::WithCrLf;

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

}  // namespace
}  // namespace launcher
