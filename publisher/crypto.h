// The publisher's cryptography, on OpenSSL: SHA-256 of files, the ECDSA
// P-256 release key, and signatures in the launcher's fixed-width form.
#pragma once

#include <array>
#include <cstdint>
#include <filesystem>
#include <memory>
#include <optional>
#include <span>
#include <string>
#include <string_view>

#include <openssl/types.h>

#include "core/signature_file.h"

namespace publisher {

// X then Y, 32 bytes each, most significant byte first: the form the
// launcher build carries (STONEWAKE_RELEASE_PUBLIC_KEY as 128 hex digits).
using PublicKey = std::array<std::uint8_t, 64>;
// r then s, 32 bytes each, most significant byte first, left-padded with
// zeros: the layout the launcher's verification takes.
using RawSignature = std::array<std::uint8_t, 64>;

struct KeyFree {
  void operator()(EVP_PKEY* key) const;
};
using OpenSslKey = std::unique_ptr<EVP_PKEY, KeyFree>;
using PrivateKey = OpenSslKey;

// Streaming SHA-256; Finish gives 64 lowercase hex digits, FinishBytes the
// 32 bytes. After either the hash starts afresh.
class Sha256 {
 public:
  Sha256();
  ~Sha256();
  Sha256(const Sha256&) = delete;
  Sha256& operator=(const Sha256&) = delete;

  void Update(std::span<const std::uint8_t> bytes);
  std::string Finish();
  std::array<std::uint8_t, 32> FinishBytes();

 private:
  EVP_MD_CTX* context_;
};

struct FileDigest {
  std::string sha256;  // 64 lowercase hex digits
  std::uint64_t size = 0;
};

// Reads the file in chunks; never holds it whole. Throws PublishError naming
// the file when it cannot be opened or read.
FileDigest DigestFile(const std::filesystem::path& file);

// A new ECDSA P-256 key pair.
PrivateKey GenerateKey();

// Writes the private key as PEM to a new file of mode 0600. Throws when the
// file exists (a key is never overwritten) or cannot be written; a partly
// written file is removed.
void WriteNewPrivateKey(const std::filesystem::path& file, const PrivateKey& key);

// Reads a PEM private key (PKCS#8 or SEC1; OpenSSL asks for the pass phrase
// of an encrypted one on the terminal). Throws unless it is a P-256 key.
PrivateKey LoadPrivateKey(const std::filesystem::path& file);

PublicKey PublicKeyOf(const PrivateKey& key);

// 128 lowercase hex digits, X then Y.
std::string PublicKeyHex(const PublicKey& key);

// 128 hex digits in either case, nothing else. Throws unless they name a
// point on P-256.
PublicKey ParsePublicKeyHex(std::string_view hex);

// Signs SHA-256 of `message`.
RawSignature Sign(const PrivateKey& key, std::span<const std::uint8_t> message);

// True when `signature` is valid for `message` under `key`.
bool Verify(const PublicKey& key, std::span<const std::uint8_t> message, const RawSignature& signature);

// An ECDSA-Sig-Value (DER SEQUENCE of two INTEGERs, as OpenSSL signs) in the
// fixed-width form. A DER integer has no leading zero bytes unless its top
// bit is set, in which case it has one: r or s can take anywhere from 1 to 33
// bytes, and each is written here as exactly 32.
RawSignature RawFromDer(std::span<const std::uint8_t> der);

// The signature file is written by the launcher's own writer, beside its
// parser: "ecdsa-p256-sha256 " + 128 lowercase hex digits + "\n".
using launcher::SignatureFileText;

// The signature a signature file holds, read by the launcher's own parser;
// nothing when the launcher would refuse the file.
std::optional<RawSignature> SignatureOfFile(std::string_view fileText);

}  // namespace publisher
