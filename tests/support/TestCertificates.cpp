#include "support/TestCertificates.h"

#include <openssl/evp.h>
#include <openssl/pem.h>
#include <openssl/x509.h>
#include <openssl/x509v3.h>

#include <fstream>
#include <memory>
#include <stdexcept>
#include <utility>
#include <vector>

namespace korvane::testing {

namespace {

struct KeyFree { void operator()(EVP_PKEY* key) const { EVP_PKEY_free(key); } };
struct CertFree { void operator()(X509* cert) const { X509_free(cert); } };
using KeyPtr = std::unique_ptr<EVP_PKEY, KeyFree>;
using CertPtr = std::unique_ptr<X509, CertFree>;

void Check(bool ok, const char* what) {
  if (!ok) throw std::runtime_error(std::string("test certificate: ") + what);
}

KeyPtr NewKey() {
  KeyPtr key(EVP_EC_gen("P-256"));
  Check(key != nullptr, "key generation");
  return key;
}

void AddExtension(X509* cert, X509* issuer, int nid, const std::string& value) {
  X509V3_CTX context;
  X509V3_set_ctx_nodb(&context);
  X509V3_set_ctx(&context, issuer, cert, nullptr, nullptr, 0);
  X509_EXTENSION* extension = X509V3_EXT_conf_nid(nullptr, &context, nid, value.c_str());
  Check(extension != nullptr, "extension");
  X509_add_ext(cert, extension, -1);
  X509_EXTENSION_free(extension);
}

// A certificate for `commonName` with the given key, signed by issuer (self-signed when null).
CertPtr MakeCertificate(EVP_PKEY* key, const std::string& commonName, X509* issuer, EVP_PKEY* issuerKey,
                        bool isCa, const std::string& subjectAltName, long serial) {
  CertPtr cert(X509_new());
  Check(cert != nullptr, "X509_new");
  X509_set_version(cert.get(), 2);
  ASN1_INTEGER_set(X509_get_serialNumber(cert.get()), serial);
  X509_gmtime_adj(X509_getm_notBefore(cert.get()), -3600);
  X509_gmtime_adj(X509_getm_notAfter(cert.get()), 7L * 24 * 3600);
  X509_set_pubkey(cert.get(), key);
  X509_NAME* name = X509_get_subject_name(cert.get());
  X509_NAME_add_entry_by_txt(name, "CN", MBSTRING_ASC, reinterpret_cast<const unsigned char*>(commonName.c_str()),
                             -1, -1, 0);
  X509* signer = issuer != nullptr ? issuer : cert.get();
  X509_set_issuer_name(cert.get(), X509_get_subject_name(signer));
  if (isCa) {
    AddExtension(cert.get(), signer, NID_basic_constraints, "critical,CA:TRUE");
    AddExtension(cert.get(), signer, NID_key_usage, "critical,keyCertSign,cRLSign");
    AddExtension(cert.get(), signer, NID_subject_key_identifier, "hash");
  } else {
    AddExtension(cert.get(), signer, NID_basic_constraints, "critical,CA:FALSE");
    AddExtension(cert.get(), signer, NID_key_usage, "critical,digitalSignature,keyEncipherment");
    AddExtension(cert.get(), signer, NID_ext_key_usage, "serverAuth");
    AddExtension(cert.get(), signer, NID_subject_alt_name, subjectAltName);
    AddExtension(cert.get(), signer, NID_authority_key_identifier, "keyid:always");
  }
  Check(X509_sign(cert.get(), issuerKey != nullptr ? issuerKey : key, EVP_sha256()) > 0, "signing");
  return cert;
}

std::string CertificatePem(X509* cert) {
  BIO* bio = BIO_new(BIO_s_mem());
  PEM_write_bio_X509(bio, cert);
  char* data = nullptr;
  const long size = BIO_get_mem_data(bio, &data);
  std::string pem(data, static_cast<std::size_t>(size));
  BIO_free(bio);
  return pem;
}

std::string KeyPem(EVP_PKEY* key) {
  BIO* bio = BIO_new(BIO_s_mem());
  PEM_write_bio_PrivateKey(bio, key, nullptr, nullptr, 0, nullptr, nullptr);
  char* data = nullptr;
  const long size = BIO_get_mem_data(bio, &data);
  std::string pem(data, static_cast<std::size_t>(size));
  BIO_free(bio);
  return pem;
}

TestIdentity MakeLeaf(const std::string& commonName, const std::string& subjectAltName, X509* ca, EVP_PKEY* caKey,
                      long serial, KeyPtr key = NewKey()) {
  CertPtr cert = MakeCertificate(key.get(), commonName, ca, caKey, false, subjectAltName, serial);
  return {CertificatePem(cert.get()), KeyPem(key.get())};
}

TestCertificates Generate() {
  TestCertificates result;
  KeyPtr caKey = NewKey();
  CertPtr ca = MakeCertificate(caKey.get(), "korvane test CA", nullptr, nullptr, true, "", 1);
  result.caPem = CertificatePem(ca.get());
  result.server = MakeLeaf("localhost", "DNS:localhost,IP:127.0.0.1,IP:::1", ca.get(), caKey.get(), 2);
  result.otherName = MakeLeaf("other-name.test", "DNS:other-name.test", ca.get(), caKey.get(), 3);

  KeyPtr strangerKey = NewKey();
  CertPtr stranger = MakeCertificate(strangerKey.get(), "korvane untrusted CA", nullptr, nullptr, true, "", 4);
  result.untrusted = MakeLeaf("localhost", "DNS:localhost,IP:127.0.0.1", stranger.get(), strangerKey.get(), 5);
  result.untrustedCaPem = CertificatePem(stranger.get());

  KeyPtr intermediateKey = NewKey();
  CertPtr intermediate = MakeCertificate(intermediateKey.get(), "korvane test intermediate CA", ca.get(), caKey.get(),
                                         true, "", 6);
  result.viaIntermediate =
      MakeLeaf("localhost", "DNS:localhost,IP:127.0.0.1", intermediate.get(), intermediateKey.get(), 7);
  result.viaIntermediate.certificatePem += CertificatePem(intermediate.get());

  KeyPtr weakKey(EVP_RSA_gen(1024));
  Check(weakKey != nullptr, "RSA key generation");
  result.weakKey = MakeLeaf("localhost", "DNS:localhost,IP:127.0.0.1", ca.get(), caKey.get(), 8, std::move(weakKey));
  return result;
}

}  // namespace

const TestCertificates& TestCertificates::Get() {
  static const TestCertificates certificates = Generate();
  return certificates;
}

void TestCertificates::WriteCaPem(const std::string& path) const {
  std::ofstream out(path, std::ios::binary | std::ios::trunc);
  out << caPem;
  if (!out.flush()) throw std::runtime_error("cannot write " + path);
}

}  // namespace korvane::testing
