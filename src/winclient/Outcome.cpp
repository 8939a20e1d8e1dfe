#include "winclient/Outcome.h"

#include "winclient/Text.h"

namespace korvane::winclient {

namespace {

constexpr const char* kNothingRan = ": nessuna importazione eseguita";
constexpr const char* kLookFirst = ": controllare l'archivio prima di riprovare";

std::string Unverifiable(const std::string& why) {
  return "Esito dell'importazione non verificabile (" + why + ")" + kLookFirst;
}

}  // namespace

std::string FailureLine(Failure failure, const std::string& server, int waitSeconds) {
  switch (failure) {
    case Failure::kNotReached: return "Servizio korvane non raggiungibile (" + server + ")" + kNothingRan;
    case Failure::kNotAnswering: return "Il servizio korvane non risponde (" + server + ")" + kNothingRan;
    case Failure::kSecureChannel:
      return "Connessione sicura con il servizio korvane non riuscita (" + server + ")" + kNothingRan;
    case Failure::kPinMismatch:
      return "Impronta del certificato del servizio korvane diversa da quella configurata (" + server + ")" +
             kNothingRan;
    case Failure::kNoAnswer:
      return Unverifiable("il servizio korvane " + server + " non ha risposto entro " + std::to_string(waitSeconds) +
                          " s");
    case Failure::kConnectionLost: return Unverifiable("connessione con il servizio korvane " + server + " interrotta");
    case Failure::kBadAnswer: break;
  }
  return Unverifiable("risposta non valida dal servizio korvane " + server);
}

Outcome LineOutcome(const std::string& line) { return {line + "\r\n", 1}; }

Outcome AnswerOutcome(const ServiceAnswer& answer, const std::string& server, int waitSeconds) {
  if (answer.status == 200) {
    if (answer.bodyComplete && (answer.exitHeader == "0" || answer.exitHeader == "1")) {
      return {answer.body, *answer.exitHeader == "0" ? 0 : 1};
    }
    return LineOutcome(FailureLine(Failure::kBadAnswer, server, waitSeconds));
  }
  // The service refuses with its own plain text; a gateway's error between the desktop and the
  // service (502, 504) says nothing of what the service did.
  const bool refusal = answer.status >= 400 && answer.status <= 599 && answer.status != 502 && answer.status != 504 &&
                       AsciiUpperCase(answer.contentType).starts_with("TEXT/PLAIN") && !answer.exitHeader;
  if (!refusal) {
    return LineOutcome(
        Unverifiable("risposta HTTP " + std::to_string(answer.status) + " non del servizio korvane " + server));
  }
  if (!answer.bodyComplete || answer.body.empty()) {
    return LineOutcome("Richiesta rifiutata dal servizio korvane (HTTP " + std::to_string(answer.status) + ")");
  }
  return LineOutcome(TextForMessage(answer.body));
}

}  // namespace korvane::winclient
