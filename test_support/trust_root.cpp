// Adds a certificate authority to the current user's trusted roots, or takes
// it out again: the HTTPS tests trust an authority made for the run in their
// Wine prefix's own store, never in the machine's.
//
//   trust_root add|remove CERTIFICATE.der
//
// Exits 0 when the store holds (add) or no longer holds (remove) it, 1
// otherwise, with the Windows error code on stderr.
#include <windows.h>

#include <wincrypt.h>

#include <cstdio>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

int wmain(int argc, wchar_t** argv) {
  if (argc != 3 || (std::wstring(argv[1]) != L"add" && std::wstring(argv[1]) != L"remove")) {
    std::fputs("usage: trust_root add|remove CERTIFICATE.der\n", stderr);
    return 2;
  }
  std::ifstream in(argv[2], std::ios::binary);
  const std::vector<char> der((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
  PCCERT_CONTEXT certificate = CertCreateCertificateContext(
      X509_ASN_ENCODING, reinterpret_cast<const BYTE*>(der.data()), static_cast<DWORD>(der.size()));
  if (!certificate) {
    std::fprintf(stderr, "trust_root: not a DER certificate (error %lu)\n", GetLastError());
    return 1;
  }
  HCERTSTORE store = CertOpenStore(CERT_STORE_PROV_SYSTEM_W, 0, 0, CERT_SYSTEM_STORE_CURRENT_USER, L"Root");
  bool done = false;
  if (store && std::wstring(argv[1]) == L"add") {
    done = CertAddCertificateContextToStore(store, certificate, CERT_STORE_ADD_REPLACE_EXISTING, nullptr);
  } else if (store) {
    PCCERT_CONTEXT found =
        CertFindCertificateInStore(store, X509_ASN_ENCODING, 0, CERT_FIND_EXISTING, certificate, nullptr);
    // CertDeleteCertificateFromStore frees the context it is given.
    done = !found || CertDeleteCertificateFromStore(found);
  }
  if (!done) std::fprintf(stderr, "trust_root: the user's root store refused (error %lu)\n", GetLastError());
  if (store) CertCloseStore(store, 0);
  CertFreeCertificateContext(certificate);
  return done ? 0 : 1;
}
