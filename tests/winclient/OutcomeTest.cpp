#include "winclient/Outcome.h"

#include <gtest/gtest.h>

namespace korvane::winclient {
namespace {

constexpr const char* kServer = "srv01:8443";

TEST(WinclientOutcome, AnImportsOutputIsPrintedAsItIsWithItsExitCode) {
  struct Case {
    ServiceAnswer answer;
    std::string text;
    int exitCode;
  };
  const std::string unverifiable =
      "Esito dell'importazione non verificabile (risposta non valida dal servizio korvane srv01:8443): controllare "
      "l'archivio prima di riprovare\r\n";
  const Case cases[] = {
      {{200, "application/octet-stream", "0", "0124\r\n"}, "0124\r\n", 0},
      {{200, "application/octet-stream", "1", "Fallita scrittura su database\rlock conflict\r\n"},
       "Fallita scrittura su database\rlock conflict\r\n",
       1},
      {{200, "application/octet-stream", "0", "korvane 1.0.0 (abc1234)\n"}, "korvane 1.0.0 (abc1234)\n", 0},
      {{200, "application/octet-stream", std::nullopt, "0124\r\n"}, unverifiable, 1},
      {{200, "application/octet-stream", "2", "0124\r\n"}, unverifiable, 1},
      {{200, "application/octet-stream", "0", "01", false}, unverifiable, 1},
  };
  for (const Case& c : cases) {
    const Outcome outcome = AnswerOutcome(c.answer, kServer, 180);
    EXPECT_EQ(outcome.text, c.text);
    EXPECT_EQ(outcome.exitCode, c.exitCode);
  }
}

TEST(WinclientOutcome, RefusalsPrintTheServiceTextAndAnythingElseIsUnverifiable) {
  struct Case {
    ServiceAnswer answer;
    std::string text;
  };
  const Case cases[] = {
      {{401, "text/plain; charset=utf-8", std::nullopt, "Chiave del desktop non valida"},
       "Chiave del desktop non valida\r\n"},
      {{503, "Text/Plain", std::nullopt, "Servizio occupato (riprovare)"}, "Servizio occupato (riprovare)\r\n"},
      {{400, "text/plain; charset=utf-8", std::nullopt, "Richiesta non valida (\r\nX)"},
       "Richiesta non valida (??X)\r\n"},
      {{403, "text/plain", std::nullopt, ""}, "Richiesta rifiutata dal servizio korvane (HTTP 403)\r\n"},
      {{413, "text/plain", std::nullopt, "Richiesta tr", false},
       "Richiesta rifiutata dal servizio korvane (HTTP 413)\r\n"},
      {{502, "text/plain", std::nullopt, "Bad Gateway"},
       "Esito dell'importazione non verificabile (risposta HTTP 502 non del servizio korvane srv01:8443): controllare "
       "l'archivio prima di riprovare\r\n"},
      {{500, "text/html", std::nullopt, "<html>"},
       "Esito dell'importazione non verificabile (risposta HTTP 500 non del servizio korvane srv01:8443): controllare "
       "l'archivio prima di riprovare\r\n"},
      {{302, "text/plain", std::nullopt, "moved"},
       "Esito dell'importazione non verificabile (risposta HTTP 302 non del servizio korvane srv01:8443): controllare "
       "l'archivio prima di riprovare\r\n"},
  };
  for (const Case& c : cases) {
    const Outcome outcome = AnswerOutcome(c.answer, kServer, 180);
    EXPECT_EQ(outcome.text, c.text);
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
