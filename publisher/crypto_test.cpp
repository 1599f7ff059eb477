#include "publisher/crypto.h"

#include <gtest/gtest.h>
#include <openssl/evp.h>
#include <openssl/pem.h>
#include <sys/stat.h>

#include <string>
#include <vector>

#include "core/hex.h"
#include "core/signature_file.h"
#include "core/text.h"
#include "publisher/publish_error.h"
#include "publisher/test_files.h"

namespace publisher {
namespace {

using testing::ReadFile;
using testing::SourceDir;
using testing::TempDir;
using testing::WriteFile;

std::string Message(const std::function<void()>& action) {
  try {
    action();
  } catch (const PublishError& error) {
    return error.what();
  }
  return "(no error)";
}

TEST(DigestFile, MatchesKnownAnswersAcrossChunks) {
  TempDir dir;
  std::string large(3 * 1048576 + 7, '\0');
  for (std::size_t i = 0; i < large.size(); ++i) large[i] = static_cast<char>(i * 131 % 251);
  std::array<std::uint8_t, 32> expected;
  ASSERT_EQ(EVP_Digest(large.data(), large.size(), expected.data(), nullptr, EVP_sha256(), nullptr), 1);

  struct Case {
    const char* name;
    std::string content;
    std::string sha256;
  };
  const Case kCases[] = {
      {"empty", "", "e3b0c44298fc1c149afbf4c8996fb92427ae41e4649b934ca495991b7852b855"},
      {"abc", "abc", "ba7816bf8f01cfea414140de5dae2223b00361a396177a9cb410ff61f20015ad"},
      {"several chunks", large, launcher::HexLower(expected)},
  };
  for (const Case& c : kCases) {
    SCOPED_TRACE(c.name);
    WriteFile(dir / "f", c.content);
    const FileDigest digest = DigestFile(dir / "f");
    EXPECT_EQ(digest.sha256, c.sha256);
    EXPECT_EQ(digest.size, c.content.size());
  }
  EXPECT_NE(Message([&] { DigestFile(dir / "missing"); }).find("missing"), std::string::npos);
}

TEST(PrivateKeyFile, IsPrivateAndNeverOverwritten) {
  TempDir dir;
  const PrivateKey key = GenerateKey();
  WriteNewPrivateKey(dir / "key.pem", key);

  struct stat info {};
  ASSERT_EQ(::stat((dir / "key.pem").c_str(), &info), 0);
  EXPECT_EQ(info.st_mode & 0777, 0600u);
  EXPECT_EQ(PublicKeyOf(LoadPrivateKey(dir / "key.pem")), PublicKeyOf(key));

  const std::string before = ReadFile(dir / "key.pem");
  EXPECT_NE(Message([&] { WriteNewPrivateKey(dir / "key.pem", GenerateKey()); }).find("already exists"),
            std::string::npos);
  EXPECT_EQ(ReadFile(dir / "key.pem"), before);
}

// The committed test key's public half, as the launcher's test build takes
// it, is what the publisher derives from the private half.
TEST(PublicKeyHex, IsTheFormTheLauncherBuildTakes) {
  const PrivateKey key = LoadPrivateKey(SourceDir() / "test_support/keys/test-only-release-key.pem");
  std::string committed = ReadFile(SourceDir() / "test_support/keys/test-only-release-key.pub.hex");
  while (!committed.empty() && std::isspace(static_cast<unsigned char>(committed.back()))) committed.pop_back();
  EXPECT_EQ(PublicKeyHex(PublicKeyOf(key)), committed);
  EXPECT_EQ(ParsePublicKeyHex(committed), PublicKeyOf(key));
}

TEST(LoadPrivateKey, RefusesWhatCannotSignReleases) {
  TempDir dir;
  {
    PrivateKey p384(EVP_PKEY_Q_keygen(nullptr, nullptr, "EC", "P-384"));
    BIO* out = BIO_new_file((dir / "p384.pem").c_str(), "w");
    ASSERT_EQ(PEM_write_bio_PrivateKey(out, p384.get(), nullptr, nullptr, 0, nullptr, nullptr), 1);
    BIO_free(out);
  }
  WriteFile(dir / "garbage.pem", "not a key\n");
  struct Case {
    const char* name;
    const char* file;
    const char* message;
  };
  const Case kCases[] = {
      {"missing", "missing.pem", "Cannot open the key"},
      {"not PEM", "garbage.pem", "is not a PEM private key"},
      {"other curve", "p384.pem", "is not an ECDSA P-256 key"},
  };
  for (const Case& c : kCases) {
    SCOPED_TRACE(c.name);
    EXPECT_NE(Message([&] { LoadPrivateKey(dir / c.file); }).find(c.message), std::string::npos);
  }
}

TEST(ParsePublicKeyHex, AcceptsEitherCaseAndRefusesNonPoints) {
  const std::string hex = PublicKeyHex(PublicKeyOf(GenerateKey()));
  std::string upper = hex;
  for (char& c : upper) c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
  EXPECT_EQ(ParsePublicKeyHex(upper), ParsePublicKeyHex(hex));

  struct Case {
    const char* name;
    std::string hex;
    const char* message;
  };
  const Case kCases[] = {
      {"127 digits", hex.substr(1), "this one has 127 characters"},
      {"non-hex digit", "g" + hex.substr(1), "other characters"},
      {"all zeros", std::string(128, '0'), "not a point on the P-256 curve"},
      {"X with another Y", hex.substr(0, 64) + std::string(64, '1'), "not a point on the P-256 curve"},
  };
  for (const Case& c : kCases) {
    SCOPED_TRACE(c.name);
    EXPECT_NE(Message([&] { ParsePublicKeyHex(c.hex); }).find(c.message), std::string::npos);
  }
}

// DER gives r and s only the bytes their value needs, plus a leading zero
// when the top bit is set; the launcher wants exactly 32 bytes each.
TEST(RawFromDer, PadsEachIntegerToThirtyTwoBytes) {
  const std::vector<std::uint8_t> s32(32, 0x11);
  const auto der = [](std::vector<std::uint8_t> r, std::vector<std::uint8_t> s) {
    std::vector<std::uint8_t> body = {0x02, static_cast<std::uint8_t>(r.size())};
    body.insert(body.end(), r.begin(), r.end());
    body.push_back(0x02);
    body.push_back(static_cast<std::uint8_t>(s.size()));
    body.insert(body.end(), s.begin(), s.end());
    std::vector<std::uint8_t> out = {0x30, static_cast<std::uint8_t>(body.size())};
    out.insert(out.end(), body.begin(), body.end());
    return out;
  };
  std::vector<std::uint8_t> high(32, 0x22);
  high[0] = 0x80;
  std::vector<std::uint8_t> highWithZero = high;
  highWithZero.insert(highWithZero.begin(), 0x00);
  std::vector<std::uint8_t> short31(31, 0x33);

  struct Case {
    const char* name;
    std::vector<std::uint8_t> der;
    std::string rHex;  // expected first 32 bytes
    std::string sHex;  // expected last 32 bytes
  };
  const Case kCases[] = {
      {"one-byte r", der({0x01}, s32), std::string(62, '0') + "01", std::string(64, '1')},
      {"31-byte r", der(short31, s32), "00" + std::string(62, '3'), std::string(64, '1')},
      {"31-byte s", der(s32, short31), std::string(64, '1'), "00" + std::string(62, '3')},
      {"r with a leading zero", der(highWithZero, s32), "80" + std::string(62, '2'), std::string(64, '1')},
      {"both 32 bytes", der(s32, s32), std::string(64, '1'), std::string(64, '1')},
  };
  for (const Case& c : kCases) {
    SCOPED_TRACE(c.name);
    const std::string raw = launcher::HexLower(RawFromDer(c.der));
    EXPECT_EQ(raw.substr(0, 64), c.rHex);
    EXPECT_EQ(raw.substr(64), c.sHex);
  }

  std::vector<std::uint8_t> over(33, 0x44);
  std::vector<std::uint8_t> trailing = der(s32, s32);
  trailing.push_back(0);
  struct Refused {
    const char* name;
    std::vector<std::uint8_t> der;
  };
  const Refused kRefused[] = {
      {"33 significant bytes", der(over, s32)},
      {"negative r", der({0x80}, s32)},
      {"bytes after the sequence", trailing},
      {"not DER", {0x01, 0x02, 0x03}},
  };
  for (const Refused& c : kRefused) {
    SCOPED_TRACE(c.name);
    EXPECT_THROW(RawFromDer(c.der), PublishError);
  }
}

// About one signature in 128 has an r or s below 2^248, which DER writes in
// fewer than 32 bytes; thousands of signatures meet that case for sure
// (missing it 2,000 times in a row has a chance near 1 in 6 million).
TEST(SignatureFile, IsAlwaysFullWidthAndVerifies) {
  const PrivateKey key = GenerateKey();
  const PublicKey publicKey = PublicKeyOf(key);
  int shortIntegers = 0;
  for (int i = 0; i < 2000; ++i) {
    const std::string manifest = "stonewake-manifest 1\nversion 1." + std::to_string(i) + "\nend\n";
    const RawSignature signature = Sign(key, launcher::AsBytes(manifest));
    const std::string text = SignatureFileText(signature);
    ASSERT_EQ(text.size(), 147u) << i;  // prefix, 128 digits, LF
    ASSERT_EQ(text.substr(0, 18), "ecdsa-p256-sha256 ");
    ASSERT_EQ(text.back(), '\n');
    const std::vector<std::uint8_t> parsed = launcher::ParseSignatureFile(launcher::AsBytes(text));
    ASSERT_TRUE(std::equal(parsed.begin(), parsed.end(), signature.begin(), signature.end()));
    ASSERT_TRUE(Verify(publicKey, launcher::AsBytes(manifest), signature)) << i;
    if (signature[0] == 0 || signature[32] == 0) ++shortIntegers;
  }
  EXPECT_GT(shortIntegers, 0);
}

TEST(Verify, RefusesAnythingButTheSignedBytesAndKey) {
  const PrivateKey key = GenerateKey();
  const std::string manifest = "stonewake-manifest 1\nversion 1\nend\n";
  const RawSignature signature = Sign(key, launcher::AsBytes(manifest));
  RawSignature flipped = signature;
  flipped[40] ^= 0x01;
  std::string crlf = "stonewake-manifest 1\r\nversion 1\r\nend\r\n";

  EXPECT_TRUE(Verify(PublicKeyOf(key), launcher::AsBytes(manifest), signature));
  EXPECT_FALSE(Verify(PublicKeyOf(key), launcher::AsBytes(crlf), signature));
  EXPECT_FALSE(Verify(PublicKeyOf(key), launcher::AsBytes(manifest), flipped));
  EXPECT_FALSE(Verify(PublicKeyOf(GenerateKey()), launcher::AsBytes(manifest), signature));
  EXPECT_FALSE(Verify(PublicKeyOf(key), launcher::AsBytes(manifest), RawSignature{}));
}

}  // namespace
}  // namespace publisher
