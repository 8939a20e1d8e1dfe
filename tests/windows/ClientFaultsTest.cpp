// korvane.exe under wine against scripted TLS servers on 127.0.0.1: what it sends, how it prints an
// answer, and each of its own failures. The real service behind it is ServiceTest's.

#include <gtest/gtest.h>

#include <chrono>

#include "Desktop.h"
#include "loopback/Loopback.h"
#include "support/TestCertificates.h"
#include "support/TlsTestServer.h"

namespace korvane::testing {
namespace {

const std::string kKey = "000102030405060708090a0b0c0d0e0f101112131415161718191a1b1c1d1e1f";
const std::vector<std::string> kImport = {"-UTENTE", "5", "-DITTA", "01", "-PIVA", "01234567890"};
const std::string kNothingRan = ": nessuna importazione eseguita\r\n";
const std::string kLookFirst = ": controllare l'archivio prima di riprovare\r\n";

std::string ServerPin() { return CertificatePin(TestCertificates::Get().server.certificatePem); }

std::string Answer(const std::string& statusLine, const std::string& headers, const std::string& body) {
  return "HTTP/1.1 " + statusLine + "\r\n" + headers + "Content-Length: " + std::to_string(body.size()) +
         "\r\nConnection: close\r\n\r\n" + body;
}

std::string ImportAnswer(const std::string& exitCode, const std::string& body) {
  return Answer("200 OK", "Content-Type: application/octet-stream\r\nX-Korvane-Exit: " + exitCode + "\r\n", body);
}

// The request head, then whatever else the client sends until it closes.
std::vector<TlsTestServer::Step> Answering(const std::string& answer) {
  return {TlsTestServer::ExpectRequest(), TlsTestServer::Send(answer), TlsTestServer::Close()};
}

std::string Server(const TlsTestServer& server) { return "localhost:" + std::to_string(server.Port()); }

TEST(WindowsClient, PrintsTheImportsOutputInTheCodePageOfThePipeWithItsExitCode) {
  struct Case {
    CodePage codePage;
    std::string exitCode;
    std::string body;  // UTF-8, as the service sends it
    std::string printed;
  };
  const Case cases[] = {
      {CodePage::Windows1252, "0", "0124\r\n", "0124\r\n"},
      {CodePage::Windows1252, "1", "Fallita scrittura su database\rLa città è già presente\r\n",
       "Fallita scrittura su database\rLa citt\xE0 \xE8 gi\xE0 presente\r\n"},
      {CodePage::Utf8, "1", "Fallita scrittura su database\rLa città è già presente\r\n",
       "Fallita scrittura su database\rLa città è già presente\r\n"},
  };
  for (const Case& c : cases) {
    TlsTestServer server(Answering(ImportAnswer(c.exitCode, c.body)));
    const Desktop desktop(DesktopIni(server.Url(), ServerPin(), "desktop-01", kKey));
    const ProgramResult result = desktop.Run(kImport, {}, c.codePage);
    EXPECT_EQ(result.out, c.printed);
    EXPECT_EQ(result.exitCode, std::stoi(c.exitCode));
    server.Stop();
    const std::string request = server.Request();
    EXPECT_TRUE(request.starts_with("POST /v1/import HTTP/1.1\r\n")) << request;
    EXPECT_NE(request.find("\r\nX-Korvane-Key: desktop-01\r\n"), std::string::npos) << request;
    EXPECT_NE(request.find("\r\nX-Korvane-Signature: "), std::string::npos) << request;
    EXPECT_NE(request.find("\r\nContent-Length: 38\r\n"), std::string::npos) << request;
  }
}

TEST(WindowsClient, ARefusalPrintsTheServiceText) {
  TlsTestServer server(Answering(
      Answer("401 Unauthorized", "Content-Type: text/plain; charset=utf-8\r\n", "Chiave del desktop non valida")));
  const Desktop desktop(DesktopIni(server.Url(), ServerPin(), "desktop-01", kKey));
  const ProgramResult result = desktop.Run(kImport);
  EXPECT_EQ(result.out, "Chiave del desktop non valida\r\n");
  EXPECT_EQ(result.exitCode, 1);
}

// Only a whole answer of the service's is believed: anything cut short, without its exit code, or
// not the service's own refusal leaves the outcome open.
TEST(WindowsClient, OnlyAWholeAnswerIsBelieved) {
  const std::string unverifiable = "Esito dell'importazione non verificabile (";
  const std::string plain = "Content-Type: text/plain; charset=utf-8\r\n";
  struct Case {
    std::string name;
    std::string answer;
    std::string printed;  // exactly, or (ending with "(") its start, the end being kLookFirst
  };
  const Case cases[] = {
      {"cut short on a clean close",
       "HTTP/1.1 200 OK\r\nContent-Type: application/octet-stream\r\nX-Korvane-Exit: 0\r\nContent-Length: "
       "6\r\nConnection: close\r\n\r\n00",
       unverifiable},
      {"no body", ImportAnswer("0", ""), unverifiable},
      {"no exit code", Answer("200 OK", "Content-Type: application/octet-stream\r\n", "0124\r\n"), unverifiable},
      {"something else's 503", Answer("503 Service Unavailable", plain, "Service Unavailable"),
       unverifiable + "risposta HTTP 503 non del servizio korvane "},
      {"the service's 503", Answer("503 Service Unavailable", plain, "Servizio occupato (riprovare)"),
       "Servizio occupato (riprovare)\r\n"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    TlsTestServer server(Answering(c.answer));
    const Desktop desktop(DesktopIni(server.Url(), ServerPin(), "desktop-01", kKey));
    const ProgramResult result = desktop.Run(kImport);
    EXPECT_EQ(result.exitCode, 1);
    if (c.printed.ends_with("\r\n")) {
      EXPECT_EQ(result.out, c.printed);
    } else {
      EXPECT_TRUE(result.out.starts_with(c.printed)) << result.out;
      EXPECT_TRUE(result.out.ends_with(kLookFirst)) << result.out;
    }
  }
}

TEST(WindowsClient, AWrongPinStopsTheRequestBeforeItsBody) {
  // The client sends the head, checks the certificate, and closes: the second step records
  // whatever came after the head until then.
  TlsTestServer server({TlsTestServer::ExpectRequest(), TlsTestServer::ExpectRequest()});
  const Desktop desktop(DesktopIni(server.Url(), std::string(64, 'a'), "desktop-01", kKey));
  const ProgramResult result = desktop.Run(kImport);
  EXPECT_EQ(result.out, "Impronta del certificato del servizio korvane diversa da quella configurata (" +
                            Server(server) + ")" + kNothingRan);
  EXPECT_EQ(result.exitCode, 1);
  server.Stop();
  EXPECT_NE(server.Request().find("POST /v1/import"), std::string::npos);
  EXPECT_EQ(server.Request().find("01234567890"), std::string::npos) << server.Request();
}

TEST(WindowsClient, WithoutAPinOnlyTheTrustStoreCounts) {
  // wine's trust store does not hold the tests' authority, let alone another one.
  for (const auto certificate : {TlsTestServer::Certificate::Trusted, TlsTestServer::Certificate::UntrustedCa}) {
    TlsTestServer server({TlsTestServer::ExpectRequest()}, {.certificate = certificate});
    const Desktop desktop(DesktopIni(server.Url(), "", "desktop-01", kKey));
    const ProgramResult result = desktop.Run(kImport);
    EXPECT_EQ(result.out,
              "Connessione sicura con il servizio korvane non riuscita (" + Server(server) + ")" + kNothingRan);
    EXPECT_EQ(result.exitCode, 1);
    server.Stop();
    EXPECT_EQ(server.Request(), "");
  }
}

TEST(WindowsClient, ServerDownRunsNothing) {
  int port = 0;
  {
    const loopback::Listener closedSoon;
    port = closedSoon.Port();
  }
  const Desktop desktop(DesktopIni("https://localhost:" + std::to_string(port), ServerPin(), "desktop-01", kKey));
  const ProgramResult result = desktop.Run(kImport);
  EXPECT_EQ(result.out, "Servizio korvane non raggiungibile (localhost:" + std::to_string(port) + ")" + kNothingRan);
  EXPECT_EQ(result.exitCode, 1);
}

TEST(WindowsClient, AServerSilentFromTheStartRunsNothingWithinTheWait) {
  // It takes the connection and never answers the handshake. The HTTP stacks word this failure
  // differently; what it means for the archive does not change.
  TlsTestServer server({TlsTestServer::StaySilent()}, {.handshake = false});
  const Desktop desktop(DesktopIni(server.Url(), ServerPin(), "desktop-01", kKey, 3));
  const auto start = std::chrono::steady_clock::now();
  const ProgramResult result = desktop.Run(kImport);
  // The client's wait (3 s here) ends it, with room for wine on a loaded machine; the server
  // would hold it its whole life (20 s).
  EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(20));
  EXPECT_TRUE(result.out.ends_with(kNothingRan)) << result.out;
  EXPECT_EQ(result.exitCode, 1);
}

TEST(WindowsClient, NoAnswerOrALostConnectionAfterTheRequestLeavesTheOutcomeOpen) {
  struct Case {
    TlsTestServer::Step afterRequest;
    std::string why;
  };
  const Case cases[] = {
      {TlsTestServer::StaySilent(), "non ha risposto entro 3 s"},
      {TlsTestServer::Drop(), "interrotta"},
  };
  for (const Case& c : cases) {
    TlsTestServer server({TlsTestServer::ExpectRequest(), c.afterRequest});
    const Desktop desktop(DesktopIni(server.Url(), ServerPin(), "desktop-01", kKey, 3));
    const ProgramResult result = desktop.Run(kImport);
    const std::string where = c.why == "interrotta" ? "connessione con il servizio korvane " + Server(server) + " "
                                                    : "il servizio korvane " + Server(server) + " ";
    EXPECT_EQ(result.out, "Esito dell'importazione non verificabile (" + where + c.why + ")" + kLookFirst);
    EXPECT_EQ(result.exitCode, 1);
  }
}

TEST(WindowsClient, SettingsComeFromTheIniAndTheEnvironment) {
  TlsTestServer server(Answering(ImportAnswer("0", "0124\r\n")));
  // korvane.ini names a server that is not there; the variables name the right one and the key.
  const Desktop desktop(DesktopIni("https://localhost:1", ServerPin(), "desktop-01", "bad"));
  const ProgramResult result = desktop.Run(kImport, {{"KORVANE_SERVER_URL", server.Url()}, {"KORVANE_KEY", kKey}});
  EXPECT_EQ(result.out, "0124\r\n");
  EXPECT_EQ(result.exitCode, 0);

  const Desktop unset("");
  const ProgramResult missing = unset.Run(kImport);
  EXPECT_EQ(missing.out, "Impostazione mancante (korvane.ini [Server] Indirizzo o KORVANE_SERVER_URL)" + kNothingRan);
  EXPECT_EQ(missing.exitCode, 1);
}

TEST(WindowsClient, TheRegistryTokenNeverLeavesTheDesktop) {
  TlsTestServer server({TlsTestServer::ExpectRequest()});
  const Desktop desktop(DesktopIni(server.Url(), ServerPin(), "desktop-01", kKey));
  std::vector<std::string> arguments = kImport;
  arguments.insert(arguments.end(), {"-apitoken", "segreto"});
  const ProgramResult result = desktop.Run(arguments);
  EXPECT_EQ(result.out, "Richiesta non valida (-APITOKEN non ammesso: il token \xE8 quello del server)\r\n");
  EXPECT_EQ(result.exitCode, 1);
  server.Stop();
  EXPECT_FALSE(server.Connected());
}

}  // namespace
}  // namespace korvane::testing
