#include "publisher/authenticode.h"

#include <openssl/asn1.h>
#include <openssl/bio.h>
#include <openssl/err.h>
#include <openssl/evp.h>
#include <openssl/objects.h>
#include <openssl/pkcs7.h>
#include <openssl/x509.h>

#include <memory>
#include <optional>
#include <vector>

#include "core/hex.h"
#include "publisher/openssl_handles.h"

namespace publisher {
namespace {

constexpr std::uint16_t kWinCertTypePkcsSignedData = 0x0002;
constexpr std::uint32_t kWinCertificateHeader = 8;  // dwLength, wRevision, wCertificateType

// Microsoft's object identifiers of Authenticode: the content a signature
// signs (SpcIndirectDataContent) and the RFC 3161 timestamp token it
// carries as an unsigned attribute. The classic countersignature is
// PKCS#9's (NID_pkcs9_countersignature).
constexpr const char* kSpcIndirectDataContent = "1.3.6.1.4.1.311.2.1.4";
constexpr const char* kRfc3161Timestamp = "1.3.6.1.4.1.311.3.3.1";

using Pkcs7 = std::unique_ptr<PKCS7, Freer<PKCS7, PKCS7_free>>;
using Object = std::unique_ptr<ASN1_OBJECT, Freer<ASN1_OBJECT, ASN1_OBJECT_free>>;
void FreeCertificates(STACK_OF(X509) * certificates) { sk_X509_free(certificates); }
using Signers = std::unique_ptr<STACK_OF(X509), Freer<STACK_OF(X509), FreeCertificates>>;

std::uint32_t ReadU32(std::span<const std::uint8_t> bytes, std::size_t at) {
  return bytes[at] | (bytes[at + 1] << 8) | (bytes[at + 2] << 16) | (static_cast<std::uint32_t>(bytes[at + 3]) << 24);
}

AuthenticodeSignature Malformed(std::string fault) {
  // A failed parse leaves OpenSSL's reasons on the thread's queue; the
  // next unrelated call must not find them.
  ERR_clear_error();
  AuthenticodeSignature signature;
  signature.kind = AuthenticodeSignature::Kind::Malformed;
  signature.fault = std::move(fault);
  return signature;
}

// One DER element: `contents` is what follows its tag and length.
struct DerElement {
  int tag = 0;
  std::span<const std::uint8_t> whole;
  std::span<const std::uint8_t> contents;
};

// Takes the first element off `bytes`; nothing when it is not DER of a
// definite length that fits.
std::optional<DerElement> TakeDer(std::span<const std::uint8_t>& bytes) {
  const unsigned char* p = bytes.data();
  long length = 0;
  int tag = 0;
  int tagClass = 0;
  const int result = ASN1_get_object(&p, &length, &tag, &tagClass, static_cast<long>(bytes.size()));
  if (result & 0x80 || result == 0x21) return std::nullopt;  // an error, or an indefinite length
  const auto header = static_cast<std::size_t>(p - bytes.data());
  if (length < 0 || static_cast<std::size_t>(length) > bytes.size() - header) return std::nullopt;
  DerElement element{tag, bytes.first(header + static_cast<std::size_t>(length)),
                     bytes.subspan(header, static_cast<std::size_t>(length))};
  bytes = bytes.subspan(element.whole.size());
  return element;
}

struct SignedDigest {
  const EVP_MD* algorithm = nullptr;
  std::vector<std::uint8_t> digest;
};

// SpcIndirectDataContent ::= SEQUENCE { data SpcAttributeTypeAndOptionalValue,
//   messageDigest DigestInfo }, DigestInfo ::= SEQUENCE {
//   digestAlgorithm AlgorithmIdentifier, digest OCTET STRING }.
std::optional<SignedDigest> ReadIndirectData(std::span<const std::uint8_t> sequenceContents) {
  std::span<const std::uint8_t> rest = sequenceContents;
  const auto data = TakeDer(rest);
  const auto digestInfo = TakeDer(rest);
  if (!data || !digestInfo || digestInfo->tag != V_ASN1_SEQUENCE) return std::nullopt;
  std::span<const std::uint8_t> info = digestInfo->contents;
  const auto algorithm = TakeDer(info);
  const auto digest = TakeDer(info);
  if (!algorithm || algorithm->tag != V_ASN1_SEQUENCE || !digest || digest->tag != V_ASN1_OCTET_STRING) {
    return std::nullopt;
  }
  std::span<const std::uint8_t> identifier = algorithm->contents;
  const auto oid = TakeDer(identifier);
  if (!oid || oid->tag != V_ASN1_OBJECT) return std::nullopt;
  const unsigned char* p = oid->whole.data();
  const Object object(d2i_ASN1_OBJECT(nullptr, &p, static_cast<long>(oid->whole.size())));
  if (!object) return std::nullopt;
  SignedDigest signedDigest;
  signedDigest.algorithm = EVP_get_digestbyobj(object.get());
  signedDigest.digest.assign(digest->contents.begin(), digest->contents.end());
  return signedDigest;
}

// The Authenticode digest: the file's bytes less the CheckSum field, the
// certificate table's directory entry and the table itself. Bytes after
// the table count, so whatever was appended after signing shows.
std::vector<std::uint8_t> AuthenticodeDigest(std::span<const std::uint8_t> image, const AuthenticodeLayout& layout,
                                             const EVP_MD* algorithm) {
  const MdContext context(EVP_MD_CTX_new());
  if (!context || EVP_DigestInit_ex(context.get(), algorithm, nullptr) != 1) return {};
  const std::uint64_t tableEnd = std::uint64_t{layout.tableOffset} + layout.tableSize;
  const std::pair<std::uint64_t, std::uint64_t> ranges[] = {
      {0, layout.checksumAt},
      {layout.checksumAt + 4, layout.tableEntryAt},
      {layout.tableEntryAt + 8, layout.tableOffset},
      {tableEnd, image.size()},
  };
  for (const auto& [from, to] : ranges) {
    if (to > from) EVP_DigestUpdate(context.get(), image.data() + from, static_cast<std::size_t>(to - from));
  }
  std::vector<std::uint8_t> digest(EVP_MAX_MD_SIZE);
  unsigned int size = 0;
  if (EVP_DigestFinal_ex(context.get(), digest.data(), &size) != 1) return {};
  digest.resize(size);
  return digest;
}

bool HasUnsignedAttribute(PKCS7_SIGNER_INFO* signer, const ASN1_OBJECT* type) {
  return X509at_get_attr_by_OBJ(PKCS7_get_attributes(signer), type, -1) >= 0;
}

std::string SubjectText(X509* certificate) {
  const Bio bio(BIO_new(BIO_s_mem()));
  if (!bio) return {};
  // RFC 2253's escaping, most specific part first as Windows shows it, with
  // ", " between the parts.
  const unsigned long flags = (XN_FLAG_RFC2253 & ~XN_FLAG_SEP_MASK) | XN_FLAG_SEP_CPLUS_SPC;
  if (X509_NAME_print_ex(bio.get(), X509_get_subject_name(certificate), 0, flags) < 0) return {};
  char* text = nullptr;
  const long size = BIO_get_mem_data(bio.get(), &text);
  return size > 0 ? std::string(text, static_cast<std::size_t>(size)) : std::string();
}

// OpenSSL 3.0's PKCS7_verify leaks when the signed data names a digest it
// does not know (measured under LeakSanitizer: a flipped byte of the
// digest's object identifier); such a signature cannot be checked anyway.
bool DigestsKnown(STACK_OF(X509_ALGOR) * algorithms) {
  for (int i = 0; i < sk_X509_ALGOR_num(algorithms); ++i) {
    const ASN1_OBJECT* object = nullptr;
    X509_ALGOR_get0(&object, nullptr, nullptr, sk_X509_ALGOR_value(algorithms, i));
    if (EVP_get_digestbyobj(object) == nullptr) return false;
  }
  return true;
}

}  // namespace

AuthenticodeSignature ReadAuthenticodeSignature(std::span<const std::uint8_t> image, const AuthenticodeLayout& layout) {
  // Windows takes a table of no bytes as no signature, as it takes an entry
  // of zeros.
  if (layout.tableSize == 0) return {};
  const std::uint64_t tableEnd = std::uint64_t{layout.tableOffset} + layout.tableSize;
  if (tableEnd > image.size()) {
    return Malformed("its certificate table (" + std::to_string(layout.tableSize) + " bytes at offset " +
                     std::to_string(layout.tableOffset) + ") runs past the end of the file (" +
                     std::to_string(image.size()) + " bytes)");
  }
  if (layout.tableOffset < layout.tableEntryAt + 8 || layout.checksumAt + 4 > layout.tableEntryAt) {
    return Malformed("its certificate table lies inside the PE headers");
  }

  // WIN_CERTIFICATE entries, each padded to a multiple of 8 bytes.
  const std::span<const std::uint8_t> table = image.subspan(layout.tableOffset, layout.tableSize);
  std::optional<std::span<const std::uint8_t>> der;
  for (std::size_t at = 0; at < table.size() && !der;) {
    if (table.size() - at < kWinCertificateHeader) return Malformed("its certificate table ends inside an entry");
    const std::uint32_t length = ReadU32(table, at);
    const std::uint16_t type = static_cast<std::uint16_t>(table[at + 6] | (table[at + 7] << 8));
    if (length < kWinCertificateHeader || length > table.size() - at) {
      return Malformed("its certificate table has an entry of " + std::to_string(length) +
                       " bytes, which does not fit the table");
    }
    if (type == kWinCertTypePkcsSignedData) {
      der = table.subspan(at + kWinCertificateHeader, length - kWinCertificateHeader);
    }
    at += (std::size_t{length} + 7) & ~std::size_t{7};
  }
  if (!der) return Malformed("its certificate table holds no Authenticode signature (PKCS#7 signed data)");

  const unsigned char* p = der->data();
  const Pkcs7 pkcs7(d2i_PKCS7(nullptr, &p, static_cast<long>(der->size())));
  if (!pkcs7 || !PKCS7_type_is_signed(pkcs7.get()) || pkcs7->d.sign == nullptr || pkcs7->d.sign->contents == nullptr) {
    return Malformed("its certificate table holds no readable PKCS#7 signed data");
  }
  PKCS7* content = pkcs7->d.sign->contents;
  const Object indirectData(OBJ_txt2obj(kSpcIndirectDataContent, 1));
  if (!indirectData || OBJ_cmp(content->type, indirectData.get()) != 0 || content->d.other == nullptr ||
      content->d.other->type != V_ASN1_SEQUENCE) {
    return Malformed("its signature signs something other than an executable's digest (no SpcIndirectDataContent)");
  }
  const ASN1_STRING* sequence = content->d.other->value.sequence;
  std::span<const std::uint8_t> sequenceBytes(ASN1_STRING_get0_data(sequence),
                                              static_cast<std::size_t>(ASN1_STRING_length(sequence)));
  const std::optional<DerElement> indirect = TakeDer(sequenceBytes);
  const std::optional<SignedDigest> signedDigest = indirect ? ReadIndirectData(indirect->contents) : std::nullopt;
  if (!signedDigest) return Malformed("its signature's SpcIndirectDataContent cannot be read");
  if (!signedDigest->algorithm) return Malformed("its signature names a file digest this publisher does not know");

  STACK_OF(PKCS7_SIGNER_INFO)* signerInfos = PKCS7_get_signer_info(pkcs7.get());
  if (signerInfos == nullptr || sk_PKCS7_SIGNER_INFO_num(signerInfos) != 1) {
    return Malformed("its signature does not have exactly one signer, as Authenticode requires");
  }
  const Signers signers(PKCS7_get0_signers(pkcs7.get(), nullptr, 0));
  if (!signers || sk_X509_num(signers.get()) != 1) {
    return Malformed("its signature does not carry the signer's certificate");
  }
  X509* signer = sk_X509_value(signers.get(), 0);

  AuthenticodeSignature signature;
  signature.kind = AuthenticodeSignature::Kind::Signed;
  signature.subject = SubjectText(signer);
  unsigned char thumbprint[EVP_MAX_MD_SIZE];
  unsigned int thumbprintSize = 0;
  if (X509_digest(signer, EVP_sha256(), thumbprint, &thumbprintSize) == 1) {
    signature.thumbprint = launcher::HexLower(std::span(thumbprint, thumbprintSize));
  }
  PKCS7_SIGNER_INFO* signerInfo = sk_PKCS7_SIGNER_INFO_value(signerInfos, 0);
  const Object rfc3161(OBJ_txt2obj(kRfc3161Timestamp, 1));
  signature.timestamped = HasUnsignedAttribute(signerInfo, OBJ_nid2obj(NID_pkcs9_countersignature)) ||
                          (rfc3161 && HasUnsignedAttribute(signerInfo, rfc3161.get()));
  signature.digestName = OBJ_nid2sn(EVP_MD_get_type(signedDigest->algorithm));
  signature.digestMatches = AuthenticodeDigest(image, layout, signedDigest->algorithm) == signedDigest->digest;

  // The signer signs the SpcIndirectDataContent's value without its own
  // tag and length (PKCS#7 as Authenticode uses it), through the
  // messageDigest attribute. The certificate is not checked against any
  // authority (PKCS7_NOVERIFY): that is the player's machine's business.
  const Bio signedBytes(BIO_new_mem_buf(indirect->contents.data(), static_cast<int>(indirect->contents.size())));
  signature.signatureValid =
      signedBytes && DigestsKnown(pkcs7->d.sign->md_algs) &&
      PKCS7_verify(pkcs7.get(), nullptr, nullptr, signedBytes.get(), nullptr, PKCS7_NOVERIFY | PKCS7_BINARY) == 1;
  ERR_clear_error();
  return signature;
}

}  // namespace publisher
