#include "support/TestCertificates.h"

#include <fstream>
#include <stdexcept>

namespace korvane::testing {

namespace {

using certificates::CertificateAuthority;

TestCertificates Generate() {
  TestCertificates result;
  const CertificateAuthority ca("korvane test CA");
  result.caPem = ca.CertificatePem();
  result.server = ca.IssueServer("localhost", "DNS:localhost,IP:127.0.0.1,IP:::1");
  result.otherName = ca.IssueServer("other-name.test", "DNS:other-name.test");

  const CertificateAuthority stranger("korvane untrusted CA");
  result.untrusted = stranger.IssueServer("localhost", "DNS:localhost,IP:127.0.0.1");
  result.untrustedCaPem = stranger.CertificatePem();

  const CertificateAuthority intermediate("korvane test intermediate CA", ca);
  result.viaIntermediate = intermediate.IssueServer("localhost", "DNS:localhost,IP:127.0.0.1");
  result.viaIntermediate.certificatePem += intermediate.CertificatePem();

  result.weakKey = ca.IssueServer("localhost", "DNS:localhost,IP:127.0.0.1", certificates::KeyType::Rsa1024);
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
