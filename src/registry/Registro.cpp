#include "registry/Registro.h"

#include "platform/Exception.h"
#include "platform/Text.h"

namespace korvane {

namespace {

constexpr const char* kUserAgent =
    "Mozilla/5.0 (Windows NT 10.0; WOW64) AppleWebKit/537.36 (KHTML, like Gecko) "
    "Chrome/52.0.2743.116 Safari/537.36";

}  // namespace

std::string registry::RegistryUrl(const char* configured) {
  std::string url = configured != nullptr && *configured != '\0' ? configured : kDefaultRegistryUrl;
  // The VAT number is the last path segment: "https://host/IT-start" asks for /IT-start/<VAT>.
  // An address with a query or a fragment is taken as written.
  const bool endsPath = url.back() == '/' || url.back() == '\\';
  if (!endsPath && url.find_first_of("?#") == std::string::npos) url += '/';
  if (platform::HasAsciiControlCharacter(url) || url.find(' ') != std::string::npos) {
    throw Exception("Indirizzo del registro non valido (KORVANE_REGISTRY_URL)");
  }
  return url;
}

std::string InterrogaRegistro(const std::string& PIVA, const std::string& ApiToken, const std::string& registryUrl,
                              std::unique_ptr<TIdHTTP>& ClientHTTP,
                              std::unique_ptr<TIdSSLIOHandlerSocketOpenSSL>& GestoreSSL) {
  ClientHTTP = std::make_unique<TIdHTTP>();
  GestoreSSL = std::make_unique<TIdSSLIOHandlerSocketOpenSSL>();
  GestoreSSL->SSLOptions.SetSSLVersions(kAllSslVersions);
  ClientHTTP->IOHandler = GestoreSSL.get();
  ClientHTTP->Request.Clear();
  ClientHTTP->Request.BasicAuthentication = false;
  ClientHTTP->Request.Method = "GET";
  ClientHTTP->Request.CustomHeaders.push_back("Accept: application/json");
  ClientHTTP->Request.CustomHeaders.push_back("Authorization: Bearer " + ApiToken);
  ClientHTTP->Request.Accept = "application/json";
  ClientHTTP->Request.UserAgent = kUserAgent;
  return ClientHTTP->Get(registryUrl + PIVA);
}

}  // namespace korvane
