#pragma once

// Certificates made on the spot with OpenSSL, for a TLS server on this machine whose clients
// trust it through its authority's certificate (e.g. in SSL_CERT_FILE): the registry simulator
// and the tests' servers.

#include <string>

#include "certificates/OpenSslHandles.h"

namespace korvane::certificates {

// A certificate and its private key, both PEM. Certificates after the first are the chain that
// a server sends with it.
struct Identity {
  std::string certificatePem;
  std::string keyPem;
};

enum class KeyType {
  EcP256,
  Rsa1024,  // too weak for a careful client: for tests that it is refused
};

// A certificate authority with a new P-256 key, valid from an hour ago for 30 days. Failures
// raise std::runtime_error.
class CertificateAuthority {
 public:
  // A self-signed root.
  explicit CertificateAuthority(const std::string& commonName);
  // An intermediate authority signed by `issuer`.
  CertificateAuthority(const std::string& commonName, const CertificateAuthority& issuer);

  // A server certificate with a new key, signed by this authority, for `commonName` and the
  // subject alternative names (e.g. "DNS:localhost,IP:127.0.0.1").
  Identity IssueServer(const std::string& commonName, const std::string& subjectAltNames,
                       KeyType keyType = KeyType::EcP256) const;

  std::string CertificatePem() const;

 private:
  KeyPtr key_;
  CertificatePtr certificate_;
};

// A self-signed server certificate with a new P-256 key, valid from an hour ago for `days` days:
// what a firm without its own authority gives a service whose clients pin the certificate.
Identity SelfSignedServer(const std::string& commonName, const std::string& subjectAltNames, int days);

// The lowercase hex SHA-256 of the first certificate of a PEM text, in its DER form: the pin.
// Raises std::runtime_error when the text holds no certificate.
std::string Sha256Fingerprint(const std::string& certificatePem);

// Sets a server context's certificate, the chain after it and the key; false when one of them
// does not load or does not fit.
bool UseIdentity(SSL_CTX* context, const Identity& identity);

}  // namespace korvane::certificates
