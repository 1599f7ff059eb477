// The Authenticode signature of a Windows executable, read without Windows:
// the certificate table the PE headers point at, the PKCS#7 signed data in
// it, and the file's own Authenticode digest to hold against the signed one.
// Windows shows an unsigned program that downloads executables and replaces
// itself as suspicious, and a signed one whose bytes changed since as
// tampered.
#pragma once

#include <cstdint>
#include <span>
#include <string>

namespace publisher {

struct AuthenticodeSignature {
  enum class Kind {
    None,       // no certificate table
    Signed,     // a PKCS#7 signature that could be read (intact or not: see below)
    Malformed,  // a certificate table or signature that cannot be read; `fault` says why
  };
  Kind kind = Kind::None;
  std::string fault;

  // Signed only.
  std::string subject;         // the signer certificate's subject, "CN=Studio, O=Studio Ltd, C=GB"
  std::string thumbprint;      // SHA-256 of the signer certificate, 64 lowercase hex digits
  bool timestamped = false;    // a countersignature or an RFC 3161 timestamp token is attached
  std::string digestName;      // the digest the signature names for the file, "SHA256"
  bool digestMatches = false;  // that digest is the file's Authenticode digest now
  // The signer's signature over the signed content holds (whether its
  // certificate does is for Windows to judge, against its roots).
  bool signatureValid = false;
};

// Where the PE headers put what the Authenticode digest leaves out: the
// optional header's CheckSum field, the certificate table's data directory
// entry (index 4) and the table itself. The table's address is a file
// offset, unlike every other directory's RVA.
struct AuthenticodeLayout {
  std::uint64_t checksumAt = 0;    // 4 bytes
  std::uint64_t tableEntryAt = 0;  // 8 bytes: the table's offset and size
  std::uint32_t tableOffset = 0;
  std::uint32_t tableSize = 0;
};

// Reads the signature of `image`, whose headers `layout` was read from.
// Never reads outside `image`; what cannot be read is Malformed, never a
// crash. The signer certificate is not checked against any authority: the
// publisher cannot know what players' machines trust.
AuthenticodeSignature ReadAuthenticodeSignature(std::span<const std::uint8_t> image, const AuthenticodeLayout& layout);

}  // namespace publisher
