#include "publisher/crypto.h"

#include <fcntl.h>
#include <openssl/bn.h>
#include <openssl/core_names.h>
#include <openssl/ec.h>
#include <openssl/err.h>
#include <openssl/evp.h>
#include <openssl/param_build.h>
#include <openssl/pem.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <optional>
#include <system_error>
#include <vector>

#include "core/hex.h"
#include "core/records.h"
#include "core/text.h"
#include "publisher/openssl_handles.h"
#include "publisher/publish_error.h"

namespace publisher {
namespace {

constexpr const char* kCurve = "prime256v1";  // OpenSSL's name of P-256
constexpr std::size_t kCoordinateBytes = 32;

using BigNum = std::unique_ptr<BIGNUM, Freer<BIGNUM, BN_free>>;
using EcdsaSig = std::unique_ptr<ECDSA_SIG, Freer<ECDSA_SIG, ECDSA_SIG_free>>;
using PkeyContext = std::unique_ptr<EVP_PKEY_CTX, Freer<EVP_PKEY_CTX, EVP_PKEY_CTX_free>>;
using ParamBuild = std::unique_ptr<OSSL_PARAM_BLD, Freer<OSSL_PARAM_BLD, OSSL_PARAM_BLD_free>>;
using Params = std::unique_ptr<OSSL_PARAM, Freer<OSSL_PARAM, OSSL_PARAM_free>>;

// OpenSSL keeps its reasons on a per-thread queue; take them all so the next
// call starts clean, and keep the first for the message.
std::string OpenSslReason() {
  std::string reason;
  while (const unsigned long code = ERR_get_error()) {
    if (reason.empty()) {
      char text[256];
      ERR_error_string_n(code, text, sizeof text);
      reason = text;
    }
  }
  return reason.empty() ? std::string("no reason given") : reason;
}

[[noreturn]] void FailWithOpenSsl(const std::string& what) {
  throw PublishError(what + " (OpenSSL: " + OpenSslReason() + ")");
}

bool IsP256(EVP_PKEY* key) {
  if (EVP_PKEY_is_a(key, "EC") != 1) return false;
  char group[64];
  std::size_t length = 0;
  if (EVP_PKEY_get_group_name(key, group, sizeof group, &length) != 1) return false;
  return std::string_view(group, length) == kCurve;
}

void CoordinateBytes(const PrivateKey& key, const char* name, std::uint8_t* out) {
  BIGNUM* raw = nullptr;
  if (EVP_PKEY_get_bn_param(key.get(), name, &raw) != 1) FailWithOpenSsl("The key's public point cannot be read");
  const BigNum value(raw);
  if (BN_bn2binpad(value.get(), out, kCoordinateBytes) != static_cast<int>(kCoordinateBytes)) {
    throw PublishError("The key's public point does not fit in 32 bytes per coordinate");
  }
}

// The public key as an OpenSSL key object, which also proves the point lies
// on the curve.
OpenSslKey OpenSslPublicKey(const PublicKey& key) {
  std::array<std::uint8_t, 65> point;
  point[0] = 0x04;  // uncompressed: X then Y follow
  std::copy(key.begin(), key.end(), point.begin() + 1);

  const ParamBuild build(OSSL_PARAM_BLD_new());
  if (!build || OSSL_PARAM_BLD_push_utf8_string(build.get(), OSSL_PKEY_PARAM_GROUP_NAME, kCurve, 0) != 1 ||
      OSSL_PARAM_BLD_push_octet_string(build.get(), OSSL_PKEY_PARAM_PUB_KEY, point.data(), point.size()) != 1) {
    FailWithOpenSsl("The public key cannot be prepared");
  }
  const Params params(OSSL_PARAM_BLD_to_param(build.get()));
  const PkeyContext context(EVP_PKEY_CTX_new_from_name(nullptr, "EC", nullptr));
  EVP_PKEY* raw = nullptr;
  if (!params || !context || EVP_PKEY_fromdata_init(context.get()) != 1 ||
      EVP_PKEY_fromdata(context.get(), &raw, EVP_PKEY_PUBLIC_KEY, params.get()) != 1) {
    OpenSslReason();
    throw PublishError("The public key is not a point on the P-256 curve");
  }
  return OpenSslKey(raw);
}

}  // namespace

void KeyFree::operator()(EVP_PKEY* key) const { EVP_PKEY_free(key); }

Sha256::Sha256() : context_(EVP_MD_CTX_new()) {
  if (!context_ || EVP_DigestInit_ex(context_, EVP_sha256(), nullptr) != 1) {
    EVP_MD_CTX_free(context_);
    FailWithOpenSsl("SHA-256 is not available");
  }
}

Sha256::~Sha256() { EVP_MD_CTX_free(context_); }

void Sha256::Update(std::span<const std::uint8_t> bytes) {
  if (EVP_DigestUpdate(context_, bytes.data(), bytes.size()) != 1) FailWithOpenSsl("SHA-256 failed");
}

std::array<std::uint8_t, 32> Sha256::FinishBytes() {
  std::array<std::uint8_t, 32> digest;
  unsigned int length = 0;
  if (EVP_DigestFinal_ex(context_, digest.data(), &length) != 1 || length != digest.size() ||
      EVP_DigestInit_ex(context_, EVP_sha256(), nullptr) != 1) {
    FailWithOpenSsl("SHA-256 failed");
  }
  return digest;
}

std::string Sha256::Finish() { return launcher::HexLower(FinishBytes()); }

FileDigest DigestFile(const std::filesystem::path& file) {
  std::ifstream in(file, std::ios::binary);
  if (!in) throw PublishError("Cannot open " + file.string() + ": " + std::strerror(errno));
  Sha256 hash;
  // Sized by the file (a file that grew meanwhile is still read whole, in
  // more reads): a zeroed 1 MiB buffer per object was most of the time of a
  // verify of many small objects, over a minute at 100,000 under the
  // sanitizers.
  std::error_code sizeUnknown;
  const std::uintmax_t size = std::filesystem::file_size(file, sizeUnknown);
  constexpr std::uintmax_t kMostBuffer = 1 << 20;
  std::vector<std::uint8_t> buffer(
      static_cast<std::size_t>(sizeUnknown ? kMostBuffer : std::clamp<std::uintmax_t>(size + 1, 4096, kMostBuffer)));
  FileDigest result;
  while (in) {
    in.read(reinterpret_cast<char*>(buffer.data()), static_cast<std::streamsize>(buffer.size()));
    const auto count = static_cast<std::size_t>(in.gcount());
    hash.Update(std::span(buffer.data(), count));
    result.size += count;
  }
  if (in.bad()) throw PublishError("Cannot read " + file.string());
  result.sha256 = hash.Finish();
  return result;
}

PrivateKey GenerateKey() {
  PrivateKey key(EVP_PKEY_Q_keygen(nullptr, nullptr, "EC", "P-256"));
  if (!key) FailWithOpenSsl("A new P-256 key could not be made");
  return key;
}

void WriteNewPrivateKey(const std::filesystem::path& file, const PrivateKey& key) {
  const Bio memory(BIO_new(BIO_s_mem()));
  if (!memory || PEM_write_bio_PrivateKey(memory.get(), key.get(), nullptr, nullptr, 0, nullptr, nullptr) != 1) {
    FailWithOpenSsl("The private key could not be encoded");
  }
  char* pem = nullptr;
  const long length = BIO_get_mem_data(memory.get(), &pem);

  // O_EXCL: an existing key may sign releases players already trust, so it
  // is never replaced; 0600 from the first byte, whatever the umask.
  const int fd = ::open(file.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0600);
  if (fd < 0) {
    if (errno == EEXIST) throw PublishError(file.string() + " already exists; a key is never overwritten");
    throw PublishError("Cannot create " + file.string() + ": " + std::strerror(errno));
  }
  bool ok = ::fchmod(fd, 0600) == 0;
  for (long written = 0; ok && written < length;) {
    const ssize_t n = ::write(fd, pem + written, static_cast<std::size_t>(length - written));
    if (n < 0 && errno == EINTR) continue;
    ok = n > 0;
    if (ok) written += n;
  }
  ok = ok && ::fsync(fd) == 0;
  const int saved = errno;
  ok = ::close(fd) == 0 && ok;
  if (!ok) {
    ::unlink(file.c_str());
    throw PublishError("Cannot write " + file.string() + ": " + std::strerror(saved));
  }
}

PrivateKey LoadPrivateKey(const std::filesystem::path& file) {
  const Bio in(BIO_new_file(file.c_str(), "r"));
  if (!in) {
    OpenSslReason();
    throw PublishError("Cannot open the key " + file.string() + ": " + std::strerror(errno));
  }
  PrivateKey key(PEM_read_bio_PrivateKey(in.get(), nullptr, nullptr, nullptr));
  if (!key) FailWithOpenSsl(file.string() + " is not a PEM private key");
  if (!IsP256(key.get())) throw PublishError(file.string() + " is not an ECDSA P-256 key");
  return key;
}

PublicKey PublicKeyOf(const PrivateKey& key) {
  PublicKey result;
  CoordinateBytes(key, OSSL_PKEY_PARAM_EC_PUB_X, result.data());
  CoordinateBytes(key, OSSL_PKEY_PARAM_EC_PUB_Y, result.data() + kCoordinateBytes);
  return result;
}

std::string PublicKeyHex(const PublicKey& key) { return launcher::HexLower(key); }

PublicKey ParsePublicKeyHex(std::string_view hex) {
  if (hex.size() != 2 * std::tuple_size_v<PublicKey>) {
    throw PublishError("A public key is 128 hex digits (X then Y); this one has " + std::to_string(hex.size()) +
                       " characters");
  }
  const std::optional<std::vector<std::uint8_t>> bytes = launcher::ParseHex(hex);
  if (!bytes) throw PublishError("A public key is 128 hex digits (X then Y); this one has other characters");
  PublicKey key;
  std::copy(bytes->begin(), bytes->end(), key.begin());
  OpenSslPublicKey(key);
  return key;
}

RawSignature Sign(const PrivateKey& key, std::span<const std::uint8_t> message) {
  const MdContext context(EVP_MD_CTX_new());
  std::size_t length = 0;
  if (!context || EVP_DigestSignInit(context.get(), nullptr, EVP_sha256(), nullptr, key.get()) != 1 ||
      EVP_DigestSign(context.get(), nullptr, &length, message.data(), message.size()) != 1) {
    FailWithOpenSsl("Signing failed");
  }
  std::vector<std::uint8_t> der(length);
  if (EVP_DigestSign(context.get(), der.data(), &length, message.data(), message.size()) != 1) {
    FailWithOpenSsl("Signing failed");
  }
  der.resize(length);
  return RawFromDer(der);
}

std::optional<RawSignature> SignatureOfFile(std::string_view fileText) {
  try {
    const std::vector<std::uint8_t> parsed = launcher::ParseSignatureFile(launcher::AsBytes(fileText));
    RawSignature signature;
    std::copy(parsed.begin(), parsed.end(), signature.begin());
    return signature;
  } catch (const launcher::LauncherError&) {
    return std::nullopt;
  }
}

RawSignature RawFromDer(std::span<const std::uint8_t> der) {
  const unsigned char* cursor = der.data();
  const EcdsaSig signature(d2i_ECDSA_SIG(nullptr, &cursor, static_cast<long>(der.size())));
  if (!signature || cursor != der.data() + der.size()) {
    OpenSslReason();
    throw PublishError("The signature is not one DER ECDSA signature");
  }
  const BIGNUM* r = nullptr;
  const BIGNUM* s = nullptr;
  ECDSA_SIG_get0(signature.get(), &r, &s);
  RawSignature raw;
  // BN_bn2binpad writes the number's minimal bytes right-aligned behind
  // zeros, whatever length DER gave it, and refuses one that needs more.
  if (BN_is_negative(r) || BN_is_negative(s) ||
      BN_bn2binpad(r, raw.data(), kCoordinateBytes) != static_cast<int>(kCoordinateBytes) ||
      BN_bn2binpad(s, raw.data() + kCoordinateBytes, kCoordinateBytes) != static_cast<int>(kCoordinateBytes)) {
    throw PublishError("The signature's r or s does not fit in 32 bytes");
  }
  return raw;
}

bool Verify(const PublicKey& key, std::span<const std::uint8_t> message, const RawSignature& signature) {
  const OpenSslKey publicKey = OpenSslPublicKey(key);

  EcdsaSig sig(ECDSA_SIG_new());
  BigNum r(BN_bin2bn(signature.data(), kCoordinateBytes, nullptr));
  BigNum s(BN_bin2bn(signature.data() + kCoordinateBytes, kCoordinateBytes, nullptr));
  if (!sig || !r || !s || ECDSA_SIG_set0(sig.get(), r.get(), s.get()) != 1) FailWithOpenSsl("Verification failed");
  r.release();  // owned by sig now
  s.release();
  const int derLength = i2d_ECDSA_SIG(sig.get(), nullptr);
  if (derLength <= 0) FailWithOpenSsl("Verification failed");
  std::vector<unsigned char> der(static_cast<std::size_t>(derLength));
  unsigned char* cursor = der.data();
  if (i2d_ECDSA_SIG(sig.get(), &cursor) != derLength) FailWithOpenSsl("Verification failed");

  const MdContext context(EVP_MD_CTX_new());
  if (!context || EVP_DigestVerifyInit(context.get(), nullptr, EVP_sha256(), nullptr, publicKey.get()) != 1) {
    FailWithOpenSsl("Verification failed");
  }
  const int result = EVP_DigestVerify(context.get(), der.data(), der.size(), message.data(), message.size());
  OpenSslReason();  // a bad signature leaves a reason on the queue
  return result == 1;
}

}  // namespace publisher
