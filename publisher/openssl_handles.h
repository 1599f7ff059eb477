// Owners of the OpenSSL objects the publisher makes, each freed by its own
// function when the owner leaves scope.
#pragma once

#include <openssl/bio.h>
#include <openssl/evp.h>

#include <memory>

namespace publisher {

template <typename T, void (*Free)(T*)>
struct Freer {
  void operator()(T* p) const { Free(p); }
};
using Bio = std::unique_ptr<BIO, Freer<BIO, BIO_free_all>>;
using MdContext = std::unique_ptr<EVP_MD_CTX, Freer<EVP_MD_CTX, EVP_MD_CTX_free>>;

}  // namespace publisher
