#include "certificates/CertificateAuthority.h"

#include <openssl/bn.h>
#include <openssl/err.h>
#include <openssl/evp.h>
#include <openssl/pem.h>
#include <openssl/ssl.h>
#include <openssl/x509.h>
#include <openssl/x509v3.h>

#include <stdexcept>

namespace korvane::certificates {

namespace {

constexpr long kValidBeforeNow = 3600;
constexpr int kAuthorityDays = 30;

void Check(bool ok, const char* what) {
  if (!ok) throw std::runtime_error(std::string("certificate: ") + what);
}

KeyPtr NewKey(KeyType type) {
  KeyPtr key(type == KeyType::Rsa1024 ? EVP_RSA_gen(1024) : EVP_EC_gen("P-256"));
  Check(key != nullptr, "key generation");
  return key;
}

// A random positive serial number, so that no two certificates of one issuer share one.
void SetRandomSerial(X509* certificate) {
  NumberPtr number(BN_new());
  Check(number != nullptr && BN_rand(number.get(), 63, BN_RAND_TOP_ONE, BN_RAND_BOTTOM_ANY) == 1 &&
            BN_to_ASN1_INTEGER(number.get(), X509_get_serialNumber(certificate)) != nullptr,
        "serial number");
}

void AddExtension(X509* certificate, X509* issuer, int nid, const std::string& value) {
  X509V3_CTX context;
  X509V3_set_ctx_nodb(&context);
  X509V3_set_ctx(&context, issuer, certificate, nullptr, nullptr, 0);
  const ExtensionPtr extension(X509V3_EXT_conf_nid(nullptr, &context, nid, value.c_str()));
  Check(extension != nullptr && X509_add_ext(certificate, extension.get(), -1) == 1, "extension");
}

// A certificate for `key` and `commonName`, valid for `days` days, without its extensions yet,
// issued by `issuer` (itself when null).
CertificatePtr NewCertificate(EVP_PKEY* key, const std::string& commonName, X509* issuer, int days = kAuthorityDays) {
  CertificatePtr certificate(X509_new());
  Check(certificate != nullptr, "X509_new");
  X509_set_version(certificate.get(), X509_VERSION_3);
  SetRandomSerial(certificate.get());
  X509_gmtime_adj(X509_getm_notBefore(certificate.get()), -kValidBeforeNow);
  X509_gmtime_adj(X509_getm_notAfter(certificate.get()), 24L * 3600 * days);
  X509_set_pubkey(certificate.get(), key);
  X509_NAME* name = X509_get_subject_name(certificate.get());
  X509_NAME_add_entry_by_txt(name, "CN", MBSTRING_ASC, reinterpret_cast<const unsigned char*>(commonName.c_str()), -1,
                             -1, 0);
  X509_set_issuer_name(certificate.get(), X509_get_subject_name(issuer != nullptr ? issuer : certificate.get()));
  return certificate;
}

// What makes a certificate a TLS server's, for these names.
void AddServerExtensions(X509* certificate, X509* signer, const std::string& subjectAltNames,
                         const char* keyUsage = "critical,digitalSignature,keyEncipherment") {
  AddExtension(certificate, signer, NID_basic_constraints, "critical,CA:FALSE");
  AddExtension(certificate, signer, NID_key_usage, keyUsage);
  AddExtension(certificate, signer, NID_ext_key_usage, "serverAuth");
  AddExtension(certificate, signer, NID_subject_alt_name, subjectAltNames);
}

CertificatePtr NewAuthorityCertificate(EVP_PKEY* key, const std::string& commonName, X509* issuer,
                                       EVP_PKEY* issuerKey) {
  CertificatePtr certificate = NewCertificate(key, commonName, issuer);
  X509* signer = issuer != nullptr ? issuer : certificate.get();
  AddExtension(certificate.get(), signer, NID_basic_constraints, "critical,CA:TRUE");
  AddExtension(certificate.get(), signer, NID_key_usage, "critical,keyCertSign,cRLSign");
  AddExtension(certificate.get(), signer, NID_subject_key_identifier, "hash");
  Check(X509_sign(certificate.get(), issuerKey != nullptr ? issuerKey : key, EVP_sha256()) > 0, "signing");
  return certificate;
}

std::string PemOf(const BioPtr& bio) {
  char* data = nullptr;
  const long size = BIO_get_mem_data(bio.get(), &data);
  return std::string(data, static_cast<std::size_t>(size));
}

std::string CertificatePemOf(X509* certificate) {
  BioPtr bio(BIO_new(BIO_s_mem()));
  Check(bio != nullptr && PEM_write_bio_X509(bio.get(), certificate) == 1, "PEM");
  return PemOf(bio);
}

std::string KeyPemOf(EVP_PKEY* key) {
  BioPtr bio(BIO_new(BIO_s_mem()));
  Check(bio != nullptr && PEM_write_bio_PrivateKey(bio.get(), key, nullptr, nullptr, 0, nullptr, nullptr) == 1, "PEM");
  return PemOf(bio);
}

BioPtr MemoryBio(const std::string& text) {
  return BioPtr(BIO_new_mem_buf(text.data(), static_cast<int>(text.size())));
}

}  // namespace

CertificateAuthority::CertificateAuthority(const std::string& commonName) : key_(NewKey(KeyType::EcP256)) {
  certificate_ = NewAuthorityCertificate(key_.get(), commonName, nullptr, nullptr);
}

CertificateAuthority::CertificateAuthority(const std::string& commonName, const CertificateAuthority& issuer)
    : key_(NewKey(KeyType::EcP256)) {
  certificate_ = NewAuthorityCertificate(key_.get(), commonName, issuer.certificate_.get(), issuer.key_.get());
}

Identity CertificateAuthority::IssueServer(const std::string& commonName, const std::string& subjectAltNames,
                                           KeyType keyType) const {
  const KeyPtr key = NewKey(keyType);
  const CertificatePtr certificate = NewCertificate(key.get(), commonName, certificate_.get());
  AddServerExtensions(certificate.get(), certificate_.get(), subjectAltNames);
  AddExtension(certificate.get(), certificate_.get(), NID_authority_key_identifier, "keyid:always");
  Check(X509_sign(certificate.get(), key_.get(), EVP_sha256()) > 0, "signing");
  return {CertificatePemOf(certificate.get()), KeyPemOf(key.get())};
}

Identity SelfSignedServer(const std::string& commonName, const std::string& subjectAltNames, int days) {
  const KeyPtr key = NewKey(KeyType::EcP256);
  const CertificatePtr certificate = NewCertificate(key.get(), commonName, nullptr, days);
  // An EC key signs; it does not encipher.
  AddServerExtensions(certificate.get(), certificate.get(), subjectAltNames, "critical,digitalSignature");
  AddExtension(certificate.get(), certificate.get(), NID_subject_key_identifier, "hash");
  Check(X509_sign(certificate.get(), key.get(), EVP_sha256()) > 0, "signing");
  return {CertificatePemOf(certificate.get()), KeyPemOf(key.get())};
}

std::string Sha256Fingerprint(const std::string& certificatePem) {
  const BioPtr text = MemoryBio(certificatePem);
  const CertificatePtr certificate(text ? PEM_read_bio_X509(text.get(), nullptr, nullptr, nullptr) : nullptr);
  ERR_clear_error();
  Check(certificate != nullptr, "no certificate in the PEM text");
  unsigned char digest[EVP_MAX_MD_SIZE];
  unsigned int size = 0;
  Check(X509_digest(certificate.get(), EVP_sha256(), digest, &size) == 1, "digest");
  static constexpr char kDigits[] = "0123456789abcdef";
  std::string hex;
  for (unsigned int i = 0; i < size; ++i) {
    hex += kDigits[digest[i] >> 4];
    hex += kDigits[digest[i] & 0x0F];
  }
  return hex;
}

std::string CertificateAuthority::CertificatePem() const { return CertificatePemOf(certificate_.get()); }

bool UseIdentity(SSL_CTX* context, const Identity& identity) {
  const BioPtr certificates = MemoryBio(identity.certificatePem);
  const BioPtr keyText = MemoryBio(identity.keyPem);
  const CertificatePtr certificate(certificates ? PEM_read_bio_X509(certificates.get(), nullptr, nullptr, nullptr)
                                                : nullptr);
  const KeyPtr key(keyText ? PEM_read_bio_PrivateKey(keyText.get(), nullptr, nullptr, nullptr) : nullptr);
  bool ok = certificate != nullptr && key != nullptr && SSL_CTX_use_certificate(context, certificate.get()) == 1 &&
            SSL_CTX_use_PrivateKey(context, key.get()) == 1;
  while (ok) {
    CertificatePtr chainCertificate(PEM_read_bio_X509(certificates.get(), nullptr, nullptr, nullptr));
    if (chainCertificate == nullptr) break;
    if (SSL_CTX_add0_chain_cert(context, chainCertificate.get()) == 1) {
      chainCertificate.release();  // the context owns it now
    } else {
      ok = false;
    }
  }
  // The read past the last certificate leaves an end-of-data error that is no failure.
  ERR_clear_error();
  return ok;
}

}  // namespace korvane::certificates
