#pragma once

// One owner shape for the library's handles in the tools and the tests: each freed by its owner.

#include <openssl/bio.h>
#include <openssl/bn.h>
#include <openssl/evp.h>
#include <openssl/ssl.h>
#include <openssl/x509.h>

#include <memory>

namespace korvane::certificates {

template <typename T, void (*Free)(T*)>
struct FreeWith {
  void operator()(T* handle) const noexcept { Free(handle); }
};

using SslContextPtr = std::unique_ptr<SSL_CTX, FreeWith<SSL_CTX, SSL_CTX_free>>;
using SslPtr = std::unique_ptr<SSL, FreeWith<SSL, SSL_free>>;
using KeyPtr = std::unique_ptr<EVP_PKEY, FreeWith<EVP_PKEY, EVP_PKEY_free>>;
using CertificatePtr = std::unique_ptr<X509, FreeWith<X509, X509_free>>;
using BioPtr = std::unique_ptr<BIO, FreeWith<BIO, BIO_free_all>>;
using NumberPtr = std::unique_ptr<BIGNUM, FreeWith<BIGNUM, BN_free>>;
using ExtensionPtr = std::unique_ptr<X509_EXTENSION, FreeWith<X509_EXTENSION, X509_EXTENSION_free>>;

}  // namespace korvane::certificates
