#include "winclient/Outcome.h"

#include <gtest/gtest.h>

namespace korvane::winclient {
namespace {

constexpr const char* kServer = "srv01:8443";

// An answer whose Content-Length is that of its body.
ServiceAnswer Whole(unsigned status, std::string contentType, std::optional<std::string> exitHeader, std::string body) {
  const std::uint64_t length = body.size();
  return ServiceAnswer{status, std::move(contentType), std::move(exitHeader), std::move(body), true, length};
}

ServiceAnswer WithLength(ServiceAnswer answer, std::optional<std::uint64_t> length, bool complete = true) {
  answer.bodyLength = length;
  answer.bodyComplete = complete;
  return answer;
}

const std::string kUnverifiable =
    "Esito dell'importazione non verificabile (risposta non valida dal servizio korvane srv01:8443): controllare "
    "l'archivio prima di riprovare\r\n";

std::string NotTheService(unsigned status) {
  return "Esito dell'importazione non verificabile (risposta HTTP " + std::to_string(status) +
         " non del servizio korvane srv01:8443): controllare l'archivio prima di riprovare\r\n";
}

// Only a whole answer is believed: a 200 with its exit code and exactly Content-Length bytes that
// end a line.
TEST(WinclientOutcome, AnImportsOutputIsPrintedOnlyWhenWhole) {
  struct Case {
    ServiceAnswer answer;
    std::string text;
    int exitCode;
  };
  const std::string octets = "application/octet-stream";
  const Case cases[] = {
      {Whole(200, octets, "0", "0124\r\n"), "0124\r\n", 0},
      {Whole(200, octets, "1", "Fallita scrittura su database\rlock conflict\r\n"),
       "Fallita scrittura su database\rlock conflict\r\n", 1},
      {Whole(200, octets, "0", "korvane 1.0.0 (abc1234)\n"), "korvane 1.0.0 (abc1234)\n", 0},
      {Whole(200, octets, std::nullopt, "0124\r\n"), kUnverifiable, 1},
      {Whole(200, octets, "2", "0124\r\n"), kUnverifiable, 1},
      {WithLength(Whole(200, octets, "0", "01"), 6, false), kUnverifiable, 1},
      // Cut short on a clean close: fewer bytes than announced, no line end.
      {WithLength(Whole(200, octets, "0", "00"), 6), kUnverifiable, 1},
      {WithLength(Whole(200, octets, "0", "0124\r\n"), std::nullopt), kUnverifiable, 1},
      {WithLength(Whole(200, octets, "0", "0124\r\n"), 7), kUnverifiable, 1},
      {Whole(200, octets, "0", "0124"), kUnverifiable, 1},
      {Whole(200, octets, "0", ""), kUnverifiable, 1},
  };
  for (const Case& c : cases) {
    const Outcome outcome = AnswerOutcome(c.answer, kServer, 180);
    EXPECT_EQ(outcome.text, c.text) << c.answer.body;
    EXPECT_EQ(outcome.exitCode, c.exitCode) << c.answer.body;
  }
}

// A refusal is the service's only with one of its statuses and that status's own text; anything
// else came from something else, which may have passed the request on.
TEST(WinclientOutcome, OnlyTheServicesRefusalsAreShownAsSuch) {
  struct Case {
    ServiceAnswer answer;
    std::string text;
  };
  const std::string plain = "text/plain; charset=utf-8";
  const Case cases[] = {
      {Whole(401, plain, std::nullopt, "Chiave del desktop non valida"), "Chiave del desktop non valida\r\n"},
      {Whole(503, "Text/Plain", std::nullopt, "Servizio occupato (riprovare)"), "Servizio occupato (riprovare)\r\n"},
      {Whole(400, plain, std::nullopt, "Richiesta non valida (\r\nX)"), "Richiesta non valida (??X)\r\n"},
      {Whole(503, "text/plain", std::nullopt, "Service Unavailable"), NotTheService(503)},
      {Whole(401, plain, std::nullopt, "Servizio occupato (riprovare)"), NotTheService(401)},
      {Whole(400, plain, std::nullopt, "Richiesta non valida"), NotTheService(400)},
      {Whole(403, "text/plain", std::nullopt, ""), NotTheService(403)},
      {WithLength(Whole(413, "text/plain", std::nullopt, "Richiesta tr"), 23, false), NotTheService(413)},
      {Whole(503, "text/html", std::nullopt, "Servizio occupato (riprovare)"), NotTheService(503)},
      {Whole(503, plain, "1", "Servizio occupato (riprovare)"), NotTheService(503)},
      {Whole(502, "text/plain", std::nullopt, "Bad Gateway"), NotTheService(502)},
      {Whole(500, "text/html", std::nullopt, "<html>"), NotTheService(500)},
      {Whole(302, "text/plain", std::nullopt, "moved"), NotTheService(302)},
  };
  for (const Case& c : cases) {
    const Outcome outcome = AnswerOutcome(c.answer, kServer, 180);
    EXPECT_EQ(outcome.text, c.text) << c.answer.status << " " << c.answer.body;
    EXPECT_EQ(outcome.exitCode, 1);
  }
}

TEST(WinclientOutcome, FailuresSayWhetherTheImportMayHaveRun) {
  const std::string look = ": controllare l'archivio prima di riprovare";
  const std::string nothing = ": nessuna importazione eseguita";
  EXPECT_EQ(FailureLine(Failure::kNotReached, kServer, 30),
            "Servizio korvane non raggiungibile (srv01:8443)" + nothing);
  EXPECT_EQ(FailureLine(Failure::kNotAnswering, kServer, 30),
            "Il servizio korvane non risponde (srv01:8443)" + nothing);
  EXPECT_EQ(FailureLine(Failure::kSecureChannel, kServer, 30),
            "Connessione sicura con il servizio korvane non riuscita (srv01:8443)" + nothing);
  EXPECT_EQ(FailureLine(Failure::kPinMismatch, kServer, 30),
            "Impronta del certificato del servizio korvane diversa da quella configurata (srv01:8443)" + nothing);
  EXPECT_EQ(
      FailureLine(Failure::kNoAnswer, kServer, 30),
      "Esito dell'importazione non verificabile (il servizio korvane srv01:8443 non ha risposto entro 30 s)" + look);
  EXPECT_EQ(
      FailureLine(Failure::kConnectionLost, kServer, 30),
      "Esito dell'importazione non verificabile (connessione con il servizio korvane srv01:8443 interrotta)" + look);
  const Outcome outcome = LineOutcome(FailureLine(Failure::kBadAnswer, kServer, 30));
  EXPECT_EQ(
      outcome.text,
      "Esito dell'importazione non verificabile (risposta non valida dal servizio korvane srv01:8443)" + look + "\r\n");
  EXPECT_EQ(outcome.exitCode, 1);
}

}  // namespace
}  // namespace korvane::winclient
