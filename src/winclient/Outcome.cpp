#include "winclient/Outcome.h"

#include "protocol/DesktopProtocol.h"
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
  const bool whole = answer.bodyComplete && answer.bodyLength == answer.body.size();
  if (answer.status == 200) {
    // An import's line ends with CR LF, the program's information with LF: a body cut short has
    // neither.
    if (whole && (answer.exitHeader == "0" || answer.exitHeader == "1") && answer.body.ends_with('\n')) {
      return {answer.body, *answer.exitHeader == "0" ? 0 : 1};
    }
    return LineOutcome(FailureLine(Failure::kBadAnswer, server, waitSeconds));
  }
  const bool refusal = whole && !answer.exitHeader && AsciiUpperCase(answer.contentType).starts_with("TEXT/PLAIN") &&
                       protocol::IsServiceRefusal(static_cast<int>(answer.status), answer.body);
  if (!refusal) {
    // Something else answered (a proxy, another program on the port): it may have passed the
    // request on.
    return LineOutcome(
        Unverifiable("risposta HTTP " + std::to_string(answer.status) + " non del servizio korvane " + server));
  }
  return LineOutcome(TextForMessage(answer.body));
}

}  // namespace korvane::winclient
