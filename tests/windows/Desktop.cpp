#include "Desktop.h"

#include <openssl/pem.h>
#include <openssl/sha.h>
#include <openssl/x509.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <memory>
#include <stdexcept>

namespace korvane::testing {

namespace {

// The desktop's settings and a proxy come from each test, never from the caller's environment.
const bool kEnvironmentCleared = [] {
  for (const char* name : {"http_proxy", "https_proxy", "HTTP_PROXY", "HTTPS_PROXY", "no_proxy", "NO_PROXY",
                           "all_proxy", "ALL_PROXY", "DISPLAY", "KORVANE_SERVER_URL", "KORVANE_SERVER_PIN",
                           "KORVANE_SERVER_WAIT", "KORVANE_KEY_NAME", "KORVANE_KEY"}) {
    unsetenv(name);
  }
  return true;
}();

}  // namespace

Desktop::Desktop(const std::string& ini) : folder_((dir_.Path() / "Gestionale").string()) {
  std::filesystem::create_directories(folder_);
  std::filesystem::copy_file(KORVANE_EXE, folder_ + "/korvane.exe");
  std::ofstream(folder_ + "/korvane.ini", std::ios::binary) << ini;
}

std::unique_ptr<StartedProgram> Desktop::Start(const std::vector<std::string>& arguments,
                                               const std::map<std::string, std::string>& environment,
                                               CodePage codePage) const {
  std::vector<std::string> command = {folder_ + "/korvane.exe"};
  command.insert(command.end(), arguments.begin(), arguments.end());
  std::map<std::string, std::string> variables = {
      {"WINEPREFIX", KORVANE_WINE_PREFIX},
      {"WINEDEBUG", "-all"},
      {"LC_ALL", codePage == CodePage::Utf8 ? "hi_IN.UTF-8" : "it_IT.UTF-8"},
  };
  for (const auto& [name, value] : environment) variables[name] = value;
  return std::make_unique<StartedProgram>(KORVANE_WINE64, command, variables);
}

ProgramResult Desktop::Run(const std::vector<std::string>& arguments,
                           const std::map<std::string, std::string>& environment, CodePage codePage,
                           int limitMs) const {
  const std::unique_ptr<StartedProgram> program = Start(arguments, environment, codePage);
  if (!program->Wait(limitMs)) throw std::runtime_error("korvane.exe still running after the limit");
  return program->Result();
}

std::string DesktopIni(const std::string& url, const std::string& pin, const std::string& keyName,
                       const std::string& key, int waitSeconds) {
  std::string ini = "[Server]\r\nIndirizzo=" + url + "\r\nImpronta=" + pin + "\r\n";
  if (waitSeconds > 0) ini += "Attesa=" + std::to_string(waitSeconds) + "\r\n";
  return ini + "[Desktop]\r\nNome=" + keyName + "\r\nChiave=" + key + "\r\n";
}

std::string CertificatePin(const std::string& certificatePem) {
  const std::unique_ptr<BIO, decltype(&BIO_free)> bio(
      BIO_new_mem_buf(certificatePem.data(), static_cast<int>(certificatePem.size())), BIO_free);
  const std::unique_ptr<X509, decltype(&X509_free)> certificate(PEM_read_bio_X509(bio.get(), nullptr, nullptr, nullptr),
                                                                X509_free);
  if (!certificate) throw std::runtime_error("not a PEM certificate");
  unsigned char* der = nullptr;
  const int length = i2d_X509(certificate.get(), &der);
  if (length <= 0) throw std::runtime_error("certificate not encoded");
  unsigned char digest[SHA256_DIGEST_LENGTH];
  SHA256(der, static_cast<std::size_t>(length), digest);
  OPENSSL_free(der);
  std::string hex;
  for (const unsigned char byte : digest) {
    constexpr const char* kDigits = "0123456789abcdef";
    hex += kDigits[byte >> 4];
    hex += kDigits[byte & 0x0F];
  }
  return hex;
}

}  // namespace korvane::testing
