#include "publisher/launcher_image.h"

#include <gtest/gtest.h>

#include <fstream>
#include <functional>
#include <string>
#include <vector>

#include "test_launcher_image.h"

namespace publisher {
namespace {

const std::string kKey = std::string(120, 'c') + "d4e5f6c9";
const std::string kTrust = launcher::ReleaseTrustText({kKey, "http://127.0.0.1:18080"});

TEST(ReadLauncherFacts, ReadsTheVersionAndTheTrustResource) {
  struct Case {
    const char* name;
    testing::TestLauncher launcher;
    std::optional<std::string> version;
    bool trusted;
  };
  const Case kCases[] = {
      {"both", {kTrust, true, {2, 5, 2, 0}}, "2.5.2", true},
      {"a fourth version part", {kTrust, true, {2, 6, 0, 7}}, "2.6.0.7", true},
      {"no version resource", {kTrust, false, {}}, std::nullopt, true},
      {"no trust resource", {std::nullopt, true, {2, 5, 1, 0}}, "2.5.1", false},
      {"a trust text of another form", {"key " + kKey + "\n", true, {2, 5, 1, 0}}, "2.5.1", false},
  };
  for (const Case& c : kCases) {
    SCOPED_TRACE(c.name);
    const LauncherFacts facts = ReadLauncherFacts(testing::TestLauncherImage(c.launcher));
    EXPECT_EQ(facts.version, c.version);
    ASSERT_EQ(facts.trust.has_value(), c.trusted);
    if (c.trusted) {
      EXPECT_EQ(facts.trust->publicKeyHex, kKey);
      EXPECT_EQ(facts.trust->serverBase, "http://127.0.0.1:18080");
    }
  }
}

// Whatever a studio passes as --launcher is read without trusting its
// offsets: every cut of a real image reads nothing wrong (and, under the
// sanitizers, nothing outside the bytes).
TEST(ReadLauncherFacts, ACutOrDamagedImageReadsNothingWrong) {
  const std::vector<std::uint8_t> image = testing::TestLauncherImage({kTrust, true, {2, 5, 2, 0}});
  for (std::size_t size = 0; size < image.size(); ++size) {
    const LauncherFacts facts = ReadLauncherFacts(std::span(image.data(), size));
    if (facts.trust) {
      EXPECT_EQ(facts.trust->publicKeyHex, kKey) << size;
    }
    if (facts.version) {
      EXPECT_EQ(*facts.version, "2.5.2") << size;
    }
  }
  for (std::size_t at = 0; at < 0x200; ++at) {
    std::vector<std::uint8_t> damaged = image;
    damaged[at] ^= 0xFF;
    const LauncherFacts facts = ReadLauncherFacts(damaged);
    if (facts.trust) {
      EXPECT_EQ(facts.trust->publicKeyHex, kKey) << at;
    }
  }
  EXPECT_FALSE(ReadLauncherFacts(std::vector<std::uint8_t>{'M', 'Z'}).trust);
}

TEST(LauncherTrustProblems, NamesWhatWouldStrandOrMovePlayers) {
  const LauncherFacts facts = ReadLauncherFacts(testing::TestLauncherImage({kTrust, true, {2, 5, 2, 0}}));
  EXPECT_EQ(LauncherTrustLine(facts),
            "launcher 2.5.2 trusts key cccccccc...d4e5f6c9 and asks http://127.0.0.1:18080; not signed");
  const std::string other(128, 'a');
  struct Case {
    const char* name;
    std::string signingKey;
    bool rotate;
    std::string server;
    std::vector<std::string> problems;  // the start of each
  };
  const Case kCases[] = {
      {"the signing key", kKey, false, "", {}},
      {"the signing key and server", kKey, false, "http://127.0.0.1:18080", {}},
      {"another key",
       other,
       false,
       "",
       {"launcher 2.5.2 trusts key cccccccc...d4e5f6c9, not the key this release "
        "is signed with (aaaaaaaa...aaaaaaaa)"}},
      {"another key, rotating", other, true, "", {}},
      {"another server",
       kKey,
       false,
       "http://releases.example.net",
       {"launcher 2.5.2 asks http://127.0.0.1:18080, not http://releases.example.net (--server)"}},
      {"both", other, false, "http://releases.example.net", {"launcher 2.5.2 trusts key", "launcher 2.5.2 asks"}},
  };
  for (const Case& c : kCases) {
    SCOPED_TRACE(c.name);
    const std::vector<std::string> problems = LauncherTrustProblems(facts, c.signingKey, c.rotate, c.server);
    ASSERT_EQ(problems.size(), c.problems.size());
    for (std::size_t i = 0; i < problems.size(); ++i)
      EXPECT_TRUE(problems[i].starts_with(c.problems[i])) << problems[i];
  }

  // A CDN's release server: the path is part of the address.
  const LauncherFacts cdn = ReadLauncherFacts(testing::TestLauncherImage(
      {launcher::ReleaseTrustText({kKey, "https://cdn.example.net/stonewake"}), true, {2, 5, 2, 0}}));
  struct ServerCase {
    const char* server;
    std::string problem;  // empty: none
  };
  const ServerCase kServers[] = {
      {"https://cdn.example.net/stonewake", ""},
      {"https://cdn.example.net",
       "launcher 2.5.2 asks https://cdn.example.net/stonewake, not https://cdn.example.net (--server): every player "
       "who takes it would ask https://cdn.example.net/stonewake from then on (the same server, another folder: "
       "players would fetch https://cdn.example.net/stonewake/latest/manifest.txt, not "
       "https://cdn.example.net/latest/manifest.txt). Build the launcher with "
       "-DSTONEWAKE_RELEASE_BASE_URL=https://cdn.example.net"},
      {"https://cdn.example.net/stonewake-beta", "(the same server, another folder"},
      {"https://cdn.example.net/games/stonewake", "(the same server, another folder"},
      {"http://cdn.example.net/stonewake",
       "launcher 2.5.2 asks https://cdn.example.net/stonewake, not http://cdn.example.net/stonewake (--server): "
       "every player who takes it would ask https://cdn.example.net/stonewake from then on. Build"},
  };
  for (const ServerCase& c : kServers) {
    SCOPED_TRACE(c.server);
    const std::vector<std::string> problems = LauncherTrustProblems(cdn, kKey, false, c.server);
    ASSERT_EQ(problems.size(), c.problem.empty() ? 0u : 1u);
    if (!problems.empty()) {
      EXPECT_NE(problems[0].find(c.problem), std::string::npos) << problems[0];
    }
  }

  const LauncherFacts bare = ReadLauncherFacts(testing::TestLauncherImage({std::nullopt, true, {2, 5, 2, 0}}));
  EXPECT_EQ(LauncherTrustLine(bare), "launcher 2.5.2 carries no release key or server address; not signed");
  // Nothing to check is refused even when rotating.
  EXPECT_EQ(LauncherTrustProblems(bare, kKey, true, "").size(), 1u);
}

// The test image signed by osslsigncode with throw-away certificates
// (testing/make_signed_launchers.sh): SHA-256 with an RFC 3161 timestamp,
// SHA-1 without one, and SHA-256 by the same studio's renewed certificate.
std::vector<std::uint8_t> Signed(const std::string& name) {
  const auto image = ReadImageFile(std::string(STONEWAKE_SOURCE_DIR) + "/publisher/testing/signed/" + name);
  if (!image) ADD_FAILURE() << "cannot read " << name;
  return image.value_or(std::vector<std::uint8_t>{});
}

std::string Thumbprint(const std::string& certificate) {
  std::ifstream in(std::string(STONEWAKE_SOURCE_DIR) + "/publisher/testing/signed/" + certificate + ".thumbprint");
  std::string hex;
  in >> hex;
  return hex;
}

constexpr const char* kStudio = "CN=Stonewake Test Studio, O=Test Studio, C=GB";

// The signed test images are PE32+ with the PE header at 64: the
// certificate table's directory entry is at 64 + 24 + 112 + 4 * 8.
constexpr std::size_t kTableEntry = 232;

std::uint32_t U32At(const std::vector<std::uint8_t>& bytes, std::size_t at) {
  return bytes[at] | (bytes[at + 1] << 8) | (bytes[at + 2] << 16) | (std::uint32_t{bytes[at + 3]} << 24);
}

TEST(ReadLauncherFacts, ReadsTheAuthenticodeSignature) {
  struct Case {
    const char* name;
    std::vector<std::uint8_t> image;
    AuthenticodeSignature::Kind kind;
    std::string thumbprint;
    bool timestamped;
    std::string digestName;
  };
  const Case kCases[] = {
      {"unsigned", testing::TestLauncherImage({kTrust, true, {2, 5, 2, 0}}), AuthenticodeSignature::Kind::None, "",
       false, ""},
      {"SHA-256, timestamped", Signed("sha256-timestamped.exe"), AuthenticodeSignature::Kind::Signed,
       Thumbprint("studio"), true, "SHA256"},
      {"SHA-1", Signed("sha1.exe"), AuthenticodeSignature::Kind::Signed, Thumbprint("studio"), false, "SHA1"},
      {"renewed certificate", Signed("renewed-sha256-timestamped.exe"), AuthenticodeSignature::Kind::Signed,
       Thumbprint("renewed"), true, "SHA256"},
  };
  for (const Case& c : kCases) {
    SCOPED_TRACE(c.name);
    const LauncherFacts facts = ReadLauncherFacts(c.image);
    // Signing keeps the resources readable.
    EXPECT_EQ(facts.version, "2.5.2");
    ASSERT_TRUE(facts.trust);
    const AuthenticodeSignature& signature = facts.signature;
    ASSERT_EQ(signature.kind, c.kind) << signature.fault;
    if (c.kind != AuthenticodeSignature::Kind::Signed) continue;
    EXPECT_EQ(signature.subject, kStudio);
    ASSERT_EQ(c.thumbprint.size(), 64u);
    EXPECT_EQ(signature.thumbprint, c.thumbprint);
    EXPECT_EQ(signature.timestamped, c.timestamped);
    EXPECT_EQ(signature.digestName, c.digestName);
    EXPECT_TRUE(signature.digestMatches);
    EXPECT_TRUE(signature.signatureValid);
    EXPECT_TRUE(LauncherSignatureProblems(facts).empty());
  }
  EXPECT_NE(Thumbprint("studio"), Thumbprint("renewed"));
  EXPECT_EQ(LauncherTrustLine(ReadLauncherFacts(Signed("sha256-timestamped.exe"))),
            "launcher 2.5.2 trusts key cccccccc...d4e5f6c9 and asks http://127.0.0.1:18080; signed by " +
                std::string(kStudio) + ", thumbprint " + Thumbprint("studio") + ", timestamped");
}

// Windows shows a signed file whose bytes changed as tampered with: the
// digest covers everything but the CheckSum field, the table's directory
// entry and the table, and the signature covers the signed digest.
TEST(ReadLauncherFacts, SeesAChangeAfterSigning) {
  const std::vector<std::uint8_t> original = Signed("sha1.exe");
  ASSERT_FALSE(original.empty());
  const std::uint32_t tableOffset = U32At(original, kTableEntry);
  // The PKCS#7 DER after the WIN_CERTIFICATE header: 0x30 0x82 and a 16-bit
  // length. Without a timestamp, RSA's signature value is its last bytes.
  const std::size_t der = tableOffset + 8;
  ASSERT_EQ(original[der], 0x30);
  ASSERT_EQ(original[der + 1], 0x82);
  const std::size_t derEnd = der + 4 + (original[der + 2] << 8 | original[der + 3]);
  struct Case {
    const char* name;
    std::function<void(std::vector<std::uint8_t>&)> change;
    bool digestMatches;
    bool signatureValid;
  };
  const Case kCases[] = {
      {"a byte of the resource section", [&](auto& image) { image[0x300] ^= 1; }, false, true},
      {"a byte of the headers", [&](auto& image) { image[0x100] ^= 1; }, false, true},
      {"bytes appended after the table", [&](auto& image) { image.insert(image.end(), 8, 0); }, false, true},
      {"the CheckSum field, which the digest leaves out", [&](auto& image) { image[64 + 24 + 64] ^= 0x5A; }, true,
       true},
      {"the signature value", [&](auto& image) { image[derEnd - 1] ^= 1; }, true, false},
  };
  for (const Case& c : kCases) {
    SCOPED_TRACE(c.name);
    std::vector<std::uint8_t> image = original;
    c.change(image);
    const LauncherFacts facts = ReadLauncherFacts(image);
    ASSERT_EQ(facts.signature.kind, AuthenticodeSignature::Kind::Signed) << facts.signature.fault;
    EXPECT_EQ(facts.signature.digestMatches, c.digestMatches);
    EXPECT_EQ(facts.signature.signatureValid, c.signatureValid);
    const std::vector<std::string> problems = LauncherSignatureProblems(facts);
    if (c.digestMatches && c.signatureValid) {
      EXPECT_TRUE(problems.empty());
      continue;
    }
    ASSERT_EQ(problems.size(), 1u);
    EXPECT_NE(problems[0].find("tampered"), std::string::npos) << problems[0];
  }
}

TEST(ReadLauncherFacts, AMalformedCertificateTableIsReportedNotRead) {
  const std::vector<std::uint8_t> original = Signed("sha256-timestamped.exe");
  ASSERT_FALSE(original.empty());
  const std::uint32_t tableOffset = U32At(original, kTableEntry);
  const std::uint32_t tableSize = U32At(original, kTableEntry + 4);
  ASSERT_EQ(std::size_t{tableOffset} + tableSize, original.size());
  const auto put = [](std::vector<std::uint8_t>& image, std::size_t at, std::uint32_t value) {
    for (int i = 0; i < 4; ++i) image[at + i] = static_cast<std::uint8_t>(value >> (8 * i));
  };
  struct Case {
    const char* name;
    std::function<void(std::vector<std::uint8_t>&)> change;
    const char* fault;  // a part of it
  };
  const Case kCases[] = {
      {"the file cut inside the table", [&](auto& image) { image.resize(image.size() - 100); }, "runs past the end"},
      {"a size past the end", [&](auto& image) { put(image, kTableEntry + 4, tableSize + 8); }, "runs past the end"},
      {"an offset that wraps around", [&](auto& image) { put(image, kTableEntry, 0xFFFFFFF8u); }, "runs past the end"},
      {"a table inside the headers", [&](auto& image) { put(image, kTableEntry, 16); }, "inside the PE headers"},
      {"an entry shorter than its header", [&](auto& image) { put(image, tableOffset, 4); }, "does not fit"},
      {"an entry longer than the table", [&](auto& image) { put(image, tableOffset, tableSize + 1); }, "does not fit"},
      {"a table of 4 bytes", [&](auto& image) { put(image, kTableEntry + 4, 4); }, "ends inside an entry"},
      {"an X.509 entry only", [&](auto& image) { image[tableOffset + 6] = 1; }, "no Authenticode signature"},
      {"no DER", [&](auto& image) { image[tableOffset + 8] = 0x04; }, "no readable PKCS#7"},
  };
  for (const Case& c : kCases) {
    SCOPED_TRACE(c.name);
    std::vector<std::uint8_t> image = original;
    c.change(image);
    const LauncherFacts facts = ReadLauncherFacts(image);
    ASSERT_EQ(facts.signature.kind, AuthenticodeSignature::Kind::Malformed);
    EXPECT_NE(facts.signature.fault.find(c.fault), std::string::npos) << facts.signature.fault;
    const std::vector<std::string> problems = LauncherSignatureProblems(facts);
    ASSERT_EQ(problems.size(), 1u);
    EXPECT_TRUE(problems[0].starts_with("launcher 2.5.2: " + facts.signature.fault)) << problems[0];
  }

  // Whatever lies in the table, under the sanitizers: every cut of the
  // file and every byte of the table damaged reads as something, and never
  // outside the bytes. (A damaged certificate can still read as intact:
  // whether a certificate holds is for Windows to judge against its roots.)
  for (std::size_t size = tableOffset; size < original.size(); size += 7) {
    const LauncherFacts facts = ReadLauncherFacts(std::span(original.data(), size));
    EXPECT_EQ(facts.signature.kind, AuthenticodeSignature::Kind::Malformed) << size;
  }
  for (std::size_t at = tableOffset; at < original.size(); ++at) {
    std::vector<std::uint8_t> damaged = original;
    damaged[at] ^= 0xA5;
    const AuthenticodeSignature signature = ReadLauncherFacts(damaged).signature;
    EXPECT_NE(signature.kind, AuthenticodeSignature::Kind::None) << at;
    if (signature.kind == AuthenticodeSignature::Kind::Signed) {
      EXPECT_EQ(signature.thumbprint.size(), 64u) << at;
    }
  }
}

TEST(LauncherSignature, WarnsOfAnUnsignedPlayerBuildAndNamesACertificateChange) {
  const LauncherFacts unsignedFacts = ReadLauncherFacts(testing::TestLauncherImage({kTrust, true, {2, 5, 2, 0}}));
  const LauncherFacts signedFacts = ReadLauncherFacts(Signed("sha256-timestamped.exe"));
  const LauncherFacts renewed = ReadLauncherFacts(Signed("renewed-sha256-timestamped.exe"));
  const LauncherFacts sha1 = ReadLauncherFacts(Signed("sha1.exe"));

  const std::string otherKey(128, 'a');
  const std::optional<std::string> warning = UnsignedLauncherWarning(unsignedFacts, otherKey);
  ASSERT_TRUE(warning);
  EXPECT_TRUE(warning->starts_with("launcher 2.5.2 is not signed: ")) << *warning;
  EXPECT_NE(warning->find("SmartScreen"), std::string::npos);
  EXPECT_NE(warning->find("antivirus"), std::string::npos);
  EXPECT_FALSE(UnsignedLauncherWarning(unsignedFacts, kKey)) << "a build trusting the test key";
  EXPECT_FALSE(UnsignedLauncherWarning(signedFacts, otherKey));
  EXPECT_TRUE(LauncherSignatureProblems(unsignedFacts).empty()) << "unsigned is a warning, never a refusal";

  struct Case {
    const char* name;
    const LauncherFacts& next;
    const LauncherFacts& published;
    bool line;
  };
  const Case kCases[] = {
      {"the same certificate", signedFacts, sha1, false},
      {"a renewed certificate", renewed, signedFacts, true},
      {"signed for the first time", signedFacts, unsignedFacts, false},
      {"no longer signed (the warning says it)", unsignedFacts, signedFacts, false},
  };
  for (const Case& c : kCases) {
    SCOPED_TRACE(c.name);
    const std::optional<std::string> line = CertificateChangeLine(c.next, c.published, "1.4.1");
    ASSERT_EQ(line.has_value(), c.line);
    if (line) {
      EXPECT_EQ(*line,
                "launcher 2.5.2 is signed by another certificate than the launcher of the published release "
                "1.4.1 (" +
                    std::string(kStudio) + ", thumbprint " + Thumbprint("studio") +
                    "): expected when the studio's certificate was renewed; if it was not, check which "
                    "certificate signed it");
    }
  }
}

}  // namespace
}  // namespace publisher
