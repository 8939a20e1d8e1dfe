#pragma once

#include <array>
#include <cstddef>
#include <string>
#include <string_view>
#include <vector>

// The wire contract between korvane-server and the desktops' korvane.exe (docs/protocol.md): one
// signed POST per import, its body the import's arguments, its answer the import's output.
namespace korvane::protocol {

inline constexpr std::string_view kMethod = "POST";
// The one request target the service takes, exactly: no query, no percent-encoding.
inline constexpr std::string_view kImportPath = "/v1/import";

inline constexpr std::string_view kKeyHeader = "X-Korvane-Key";
inline constexpr std::string_view kTimeHeader = "X-Korvane-Time";
inline constexpr std::string_view kNonceHeader = "X-Korvane-Nonce";
inline constexpr std::string_view kSignatureHeader = "X-Korvane-Signature";
// On a 200 only: the import's exit code, "0" or "1".
inline constexpr std::string_view kExitHeader = "X-Korvane-Exit";

inline constexpr std::string_view kBodyType = "application/octet-stream";
// A refusal's body: one line of the service's own, without a line end.
inline constexpr std::string_view kRefusalType = "text/plain; charset=utf-8";

inline constexpr std::size_t kMaxBodyBytes = 16 * 1024;
inline constexpr std::size_t kMaxArguments = 32;

// The service's refusals: a status and its one line, the same for every reason behind it (a
// desktop is not told which check failed); 400 alone says what was wrong, inside the brackets.
struct Refusal {
  int status;
  std::string_view text;
};
inline constexpr std::string_view kBadRequestOpening = "Richiesta non valida (";
inline constexpr std::array<Refusal, 6> kRefusals = {{
    {401, "Chiave del desktop non valida"},
    {403, "Indirizzo del desktop non autorizzato"},
    {404, "Risorsa inesistente"},
    {413, "Richiesta troppo grande"},
    {500, "Errore interno del servizio"},
    {503, "Servizio occupato (riprovare)"},
}};

// The fixed text of a refusal's status; empty for 400 and for a status the service never answers.
constexpr std::string_view RefusalText(int status) {
  for (const Refusal& refusal : kRefusals) {
    if (refusal.status == status) return refusal.text;
  }
  return {};
}

// A status and a text that only the service answers.
constexpr bool IsServiceRefusal(int status, std::string_view text) {
  if (status == 400)
    return text.starts_with(kBadRequestOpening) && text.size() > kBadRequestOpening.size() && text.ends_with(')');
  return !text.empty() && RefusalText(status) == text;
}

// Each argument followed by one NUL byte, in order.
inline std::string ArgumentsBody(const std::vector<std::string>& arguments) {
  std::string body;
  for (const std::string& argument : arguments) {
    body += argument;
    body += '\0';
  }
  return body;
}

// The text the request's HMAC-SHA256 covers, with the key of the desktop named in kKeyHeader:
//     "korvane-v1" LF METHOD LF TARGET LF TIME LF NONCE LF hex SHA-256(body)
// TARGET is the request line's target as sent, byte for byte.
inline std::string SignedText(std::string_view method, std::string_view target, std::string_view time,
                              std::string_view nonce, std::string_view bodySha256Hex) {
  std::string text = "korvane-v1\n";
  for (const std::string_view part : {method, target, time, nonce}) {
    text += part;
    text += '\n';
  }
  text += bodySha256Hex;
  return text;
}

}  // namespace korvane::protocol
