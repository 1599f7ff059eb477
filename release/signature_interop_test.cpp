// Signatures made by openssl (the publisher's side) verified by CNG (the
// launcher's side): hundreds of manifests signed at build time, so that the
// rare fixed-width cases, an r or an s whose DER integer is shorter than 32
// bytes, are among them.
#include <gtest/gtest.h>

#include <cstdio>
#include <filesystem>
#include <fstream>
#include <iterator>

#include "core/signature_file.h"
#include "release/signature.h"

namespace launcher {
namespace {

struct Signed {
  std::string name;
  std::vector<std::uint8_t> manifest;
  std::vector<std::uint8_t> signature;
};

std::vector<std::uint8_t> ReadAll(const std::filesystem::path& path) {
  std::ifstream in(path, std::ios::binary);
  return std::vector<std::uint8_t>(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

std::vector<Signed> LoadSigned() {
  std::vector<Signed> all;
  const std::filesystem::path folder(STONEWAKE_SIGNED_MANIFESTS);
  for (int i = 0;; ++i) {
    char stem[16];
    std::snprintf(stem, sizeof(stem), "%04d", i);
    const std::filesystem::path text = folder / (std::string(stem) + ".txt");
    if (!std::filesystem::exists(text)) break;
    all.push_back({stem, ReadAll(text), ParseSignatureFile(ReadAll(folder / (std::string(stem) + ".sig")))});
  }
  return all;
}

std::vector<std::uint8_t> SwapLineEnds(const std::vector<std::uint8_t>& text) {
  std::vector<std::uint8_t> out;
  for (std::size_t i = 0; i < text.size(); ++i) {
    if (text[i] == '\r' && i + 1 < text.size() && text[i + 1] == '\n') continue;  // CR LF -> LF
    if (text[i] == '\n' && (i == 0 || text[i - 1] != '\r')) out.push_back('\r');  // LF -> CR LF
    out.push_back(text[i]);
  }
  return out;
}

TEST(SignatureInterop, OpensslSignaturesVerifyWithCng) {
  const std::vector<Signed> all = LoadSigned();
  ASSERT_GE(all.size(), 400u) << "signed manifests missing in " << STONEWAKE_SIGNED_MANIFESTS;

  int shortR = 0;
  int shortS = 0;
  for (std::size_t i = 0; i < all.size(); ++i) {
    const Signed& s = all[i];
    SCOPED_TRACE(s.name);
    shortR += s.signature[0] == 0;
    shortS += s.signature[32] == 0;
    EXPECT_TRUE(VerifyManifestSignature(s.manifest, s.signature));

    std::vector<std::uint8_t> manifest = s.manifest;
    manifest[(i * 31) % manifest.size()] ^= static_cast<std::uint8_t>(1u << (i % 8));
    EXPECT_FALSE(VerifyManifestSignature(manifest, s.signature)) << "one manifest bit changed";

    EXPECT_FALSE(VerifyManifestSignature(SwapLineEnds(s.manifest), s.signature)) << "line ends changed";

    std::vector<std::uint8_t> signature = s.signature;
    signature[i % signature.size()] ^= static_cast<std::uint8_t>(1u << (i % 8));
    EXPECT_FALSE(VerifyManifestSignature(s.manifest, signature)) << "one signature bit changed";

    const Signed& next = all[(i + 1) % all.size()];
    EXPECT_FALSE(VerifyManifestSignature(s.manifest, next.signature)) << "another manifest's signature";
  }
  // A fixed-width r or s that starts with a zero byte: openssl wrote it as a
  // shorter DER integer that had to be padded on the left.
  EXPECT_GT(shortR, 0);
  EXPECT_GT(shortS, 0);
  std::printf("verified %zu openssl signatures (%d with a short r, %d with a short s)\n", all.size(), shortR, shortS);
}

}  // namespace
}  // namespace launcher
