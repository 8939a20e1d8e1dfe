#pragma once

#include <string>

#include "certificates/CertificateAuthority.h"

namespace korvane::testing {

using TestIdentity = certificates::Identity;

// Keys and certificates made once per test process: a test CA that tests trust (through
// SSL_CERT_FILE), server identities signed by it, and one signed by a CA nobody trusts.
struct TestCertificates {
  std::string caPem;       // the trusted test CA
  TestIdentity server;     // "localhost", 127.0.0.1 and ::1, signed by the test CA
  TestIdentity otherName;  // "other-name.test" only, signed by the test CA
  TestIdentity untrusted;  // "localhost" and 127.0.0.1, signed by an untrusted CA
  // "localhost" and 127.0.0.1, signed by an intermediate CA that the test CA signed;
  // certificatePem holds the leaf, then the intermediate, as a server sends its chain.
  TestIdentity viaIntermediate;
  std::string untrustedCaPem;  // the CA nobody trusts
  TestIdentity weakKey;        // "localhost" and 127.0.0.1 with a 1024-bit RSA key, signed by the test CA

  static const TestCertificates& Get();

  // Writes the trusted CA certificate to a PEM file, e.g. for SSL_CERT_FILE.
  void WriteCaPem(const std::string& path) const;
};

}  // namespace korvane::testing
