#include "winclient/Request.h"

#include "protocol/ImporterCommandLine.h"
#include "winclient/ClientError.h"
#include "winclient/Text.h"

namespace korvane::winclient {

namespace {

// The importer reads switch names by the simple Unicode case mapping, which also makes "I" of
// the dotless "ı" (U+0131).
bool IsApiTokenSwitch(std::string_view argument) {
  std::string name;
  for (std::size_t i = 0; i < argument.size(); ++i) {
    if (argument.substr(i).starts_with("\xC4\xB1")) {
      name += 'I';
      ++i;
    } else {
      name += argument[i];
    }
  }
  return AsciiUpperCase(name) == protocol::kTokenSwitch;
}

}  // namespace

std::string RequestBody(const std::vector<std::string>& arguments) {
  std::string body;
  std::size_t count = 0;
  for (const std::string& argument : arguments) {
    if (argument.empty()) continue;
    if (IsApiTokenSwitch(argument)) {
      throw ClientError("Richiesta non valida (-APITOKEN non ammesso: il token è quello del server)");
    }
    if (++count > kMaxArguments) {
      throw ClientError("Richiesta non valida (più di " + std::to_string(kMaxArguments) + " argomenti)");
    }
    body += argument;
    body += '\0';
  }
  if (body.size() > kMaxBodyBytes) throw ClientError(std::string(protocol::RefusalText(413)));
  // The service runs nothing for an empty body; the importer's own message needs a switch.
  if (body.empty()) throw ClientError(std::string(protocol::kBadRequestOpening) + "nessun parametro)");
  return body;
}

std::string SigningText(std::string_view time, std::string_view nonce, std::string_view bodySha256Hex) {
  return protocol::SignedText(kMethod, kImportPath, time, nonce, bodySha256Hex);
}

std::string RequestHeaders(std::string_view keyName, std::string_view time, std::string_view nonce,
                           std::string_view signatureHex) {
  std::string headers = "Content-Type: " + std::string(protocol::kBodyType) + "\r\n";
  const std::pair<std::string_view, std::string_view> lines[] = {{protocol::kKeyHeader, keyName},
                                                                 {protocol::kTimeHeader, time},
                                                                 {protocol::kNonceHeader, nonce},
                                                                 {protocol::kSignatureHeader, signatureHex}};
  for (const auto& [name, value] : lines) {
    headers += name;
    headers += ": ";
    headers += value;
    headers += "\r\n";
  }
  return headers;
}

}  // namespace korvane::winclient
