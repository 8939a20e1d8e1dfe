// Nothing paid in vain, as runs of the built program meet it: what would fail after the registry
// was paid is refused before a request byte leaves, the VAT number is taken as people type it, an
// answer that lists several companies imports the one that is meant or none, and a ledger records
// every request, capped by a daily limit.
#include <gtest/gtest.h>

#include <ctime>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <map>
#include <sstream>
#include <string>
#include <vector>

#include "support/FirebirdFixture.h"
#include "support/ProgramFolder.h"
#include "support/RunProgram.h"
#include "support/TempDir.h"
#include "support/TlsTestServer.h"

namespace korvane {
namespace {

using testing::ProgramFolder;
using testing::TlsTestServer;
using Rows = std::vector<std::string>;
using Environment = std::map<std::string, std::string>;

std::string FileText(const std::string& path) {
  std::ifstream file(path, std::ios::binary);
  return {std::istreambuf_iterator<char>(file), {}};
}

std::vector<Rows> LedgerLines(const std::string& path) {
  std::vector<Rows> lines;
  std::istringstream text(FileText(path));
  for (std::string line; std::getline(text, line);) {
    Rows fields;
    std::size_t start = 0;
    for (std::size_t tab; (tab = line.find('\t', start)) != std::string::npos; start = tab + 1) {
      fields.push_back(line.substr(start, tab - start));
    }
    fields.push_back(line.substr(start));
    lines.push_back(fields);
  }
  return lines;
}

std::string TodayStamp() {
  const std::time_t now = std::time(nullptr);
  std::tm utc{};
  gmtime_r(&now, &utc);
  char text[32];
  std::strftime(text, sizeof text, "%Y-%m-%dT%H:%M:%SZ", &utc);
  return text;
}

// Every row of both tables, so that "unchanged" means unchanged.
Rows Archive(const ProgramFolder& folder) {
  return testing::QueryColumn(folder.Archive(),
                              "SELECT 'C ' || CODICE || '|' || COALESCE(RAGSOC, '') || '|' || COALESCE(PI, '') "
                              "FROM CLIENTI UNION ALL SELECT 'F ' || CODICE FROM FORNITO ORDER BY 1");
}

std::string Setting(const std::string& name, const std::string& value) {
  return "INSERT INTO TABX VALUES ('" + name + "', '" + value + "', NULL);\n";
}

// The successor's answer with these companies in "data".
std::string Successor(const std::vector<std::pair<std::string, std::string>>& companies) {
  std::string data;
  for (const auto& [name, status] : companies) {
    data += std::string(data.empty() ? "" : ",") + R"({"taxCode":"01234567890","companyName":")" + name +
            R"(","activityStatus":")" + status +
            R"(","address":{"registeredOffice":{"streetName":"VIA ROMA 1","streetNumber":"1","town":"ROMA",)"
            R"("province":"RM","zipCode":"00100"}}})";
  }
  return testing::JsonAnswer(R"({"success":true,"data":[)" + data + "]}");
}

// The switches of an ordinary run with this VAT number, then `extra`.
std::vector<std::string> Arguments(const std::string& piva, const std::vector<std::string>& extra = {}) {
  std::vector<std::string> arguments = {"-UTENTE", "5", "-DITTA", "01", "-PIVA", piva, "-APITOKEN", "segreto"};
  arguments.insert(arguments.end(), extra.begin(), extra.end());
  return arguments;
}

// A run against `registry` at `path`, with `environment` added: its line and exit code as one text.
std::string RunAgainst(const ProgramFolder& folder, TlsTestServer& registry, const std::vector<std::string>& arguments,
                       Environment environment = {}, const std::string& path = "/base/") {
  Environment all = folder.Environment(registry);
  all["KORVANE_REGISTRY_URL"] = registry.Url(path);
  all.merge(environment);
  const testing::ProgramResult result = testing::RunProgram(folder.Program(), arguments, all);
  EXPECT_EQ(result.err, "");
  return result.out + "exit " + std::to_string(result.exitCode);
}

TlsTestServer Registry(const std::string& answer = testing::CompleteAnswer()) {
  return TlsTestServer({TlsTestServer::ExpectRequest(), TlsTestServer::Send(answer), TlsTestServer::Close()});
}

TEST(PaidRequests, EachRefusalComesBeforeAnyRequestByte) {
  testing::TempDir dir;
  const std::string spent = dir.File("spent.tsv");
  std::ofstream(spent) << TodayStamp() << "\trichiesta\t1.1\n";
  std::filesystem::create_directory(dir.File("folder"));
  struct Case {
    std::string name, archiveSql, usersSql;
    std::vector<std::string> arguments;
    Environment environment;
    std::string out;
  };
  const Case cases[] = {
      {"a given code already stored",
       "",
       "",
       Arguments("01234567890", {"-CODICESOGGETTO", "0123"}),
       {},
       "Codice soggetto 0123 già presente in archivio\r\nexit 1"},
      {"no INSERT right for the login",
       "GRANT SELECT ON CLIENTI TO LETTORE;\nGRANT SELECT ON FORNITO TO LETTORE;\n"
       "GRANT SELECT, UPDATE ON TABX TO LETTORE;\n",
       "GRANT SELECT ON UTENTI TO LETTORE;\nGRANT SELECT ON TABSOFTDES TO LETTORE;\n",
       Arguments("01234567890"),
       {{"KORVANE_DB_USER", "LETTORE"}},
       "no permission for INSERT access to TABLE CLIENTI\r\nexit 1"},
      {"an e-invoicing column NOT NULL without a default",
       "DELETE FROM CLIENTI;\nCOMMIT;\nALTER TABLE CLIENTI ADD SDI VARCHAR(7) NOT NULL;\nCOMMIT;\n"
       "INSERT INTO CLIENTI (CODICE, SDI) VALUES ('0123', 'AAAAAAA');\n" +
           Setting("ColonnaCodiceDestinatarioClienti", "sdi"),
       "",
       Arguments("01234567890"),
       {},
       "Impostazione non valida (ColonnaCodiceDestinatarioClienti = sdi)\r\nexit 1"},
      {"the daily limit reached",
       "",
       "",
       Arguments("01234567890"),
       {{"KORVANE_LEDGER", spent}, {"KORVANE_DAILY_LIMIT", "1"}},
       "Limite giornaliero di richieste al registro raggiunto (1)\r\nexit 1"},
      {"a ledger that cannot be written",
       "",
       "",
       Arguments("01234567890"),
       {{"KORVANE_LEDGER", dir.File("folder")}},
       "Giornale delle richieste non scrivibile (" + dir.File("folder") + ": not a regular file)\r\nexit 1"},
      {"a limit without a ledger",
       "",
       "",
       Arguments("01234567890"),
       {{"KORVANE_DAILY_LIMIT", "5"}},
       "Limite giornaliero senza giornale delle richieste (KORVANE_LEDGER)\r\nexit 1"},
      {"a VAT number with a character that is no separator",
       "",
       "",
       Arguments("0123/4567-890"),
       {},
       "P.IVA non riconosciuta (parametro PIVA)\r\nexit 1"},
  };
  for (const Case& c : cases) {
    ProgramFolder folder(KORVANE_BINARY);
    if (!c.archiveSql.empty()) testing::RunIsql(folder.Archive(), c.archiveSql);
    if (!c.usersSql.empty()) testing::RunIsql(folder.Users(), c.usersSql);
    const Rows before = Archive(folder);
    TlsTestServer registry = Registry();
    EXPECT_EQ(RunAgainst(folder, registry, c.arguments, c.environment), c.out) << c.name;
    registry.Stop();
    EXPECT_EQ(registry.Request(), "") << c.name << ": a request was sent";
    EXPECT_EQ(Archive(folder), before) << c.name;
  }
  EXPECT_EQ(LedgerLines(spent).size(), 1u);
}

TEST(PaidRequests, TheVatNumberAsPeopleTypeIt) {
  ProgramFolder folder(KORVANE_BINARY);
  TlsTestServer registry = Registry();
  EXPECT_EQ(RunAgainst(folder, registry, Arguments("IT 0123.4567-890\r")), "0124\r\nexit 0");
  EXPECT_TRUE(registry.Request().starts_with("GET /base/IT01234567890 HTTP/1.1\r\n")) << registry.Request();
  EXPECT_EQ(testing::QueryColumn(folder.Archive(), "SELECT PI FROM CLIENTI WHERE CODICE = '0124'"),
            Rows{"IT01234567890"});
}

// IT-start and IT-advanced answer with a list of companies: ceased ones are set aside.
TEST(PaidRequests, SeveralCompaniesInOneAnswer) {
  struct Case {
    std::string name;
    std::vector<std::pair<std::string, std::string>> companies;
    std::string settings, out, stored;
  };
  const Case cases[] = {
      {"a ceased and an active one",
       {{"VECCHIA SRL", "CESSATA"}, {"NUOVA SRL", "ATTIVA"}},
       "",
       "0124\r\nexit 0",
       "NUOVA SRL"},
      {"two active ones",
       {{"PRIMA SRL", "ATTIVA"}, {"SECONDA SRL", "ATTIVA"}},
       "",
       "Più imprese attive con la P.IVA 01234567890 (indicare il codice fiscale)\r\nexit 1",
       ""},
      {"two active ones and a ceased one",
       {{"PRIMA SRL", "CESSATA"}, {"SECONDA SRL", "ATTIVA"}, {"TERZA", "SOSPESA"}},
       "",
       "Più imprese attive con la P.IVA 01234567890 (indicare il codice fiscale)\r\nexit 1",
       ""},
      {"only ceased ones", {{"PRIMA SRL", "CESSATA"}, {"SECONDA SRL", "CESSATA"}}, "", "0124\r\nexit 0", "PRIMA SRL"},
      {"only ceased ones, refused",
       {{"PRIMA SRL", "CESSATA"}, {"SECONDA SRL", "CESSATA"}},
       Setting("ImpresaCessataClienti", "Rifiuta"),
       "Impresa cessata (P.IVA 01234567890)\r\nexit 1",
       ""},
      {"an active one after a ceased one, with the ceased setting",
       {{"VECCHIA", "CESSATA"}, {"NUOVA", "ATTIVA"}},
       Setting("ImpresaCessataClienti", "Rifiuta"),
       "0124\r\nexit 0",
       "NUOVA"},
  };
  for (const char* endpoint : {"/IT-start/", "/IT-advanced/"}) {
    for (const Case& c : cases) {
      ProgramFolder folder(KORVANE_BINARY);
      if (!c.settings.empty()) testing::RunIsql(folder.Archive(), c.settings);
      TlsTestServer registry = Registry(Successor(c.companies));
      testing::TempDir dir;
      const std::string trace = dir.File("trace");
      EXPECT_EQ(RunAgainst(folder, registry, Arguments("01234567890"), {{"KORVANE_TRACE", trace}}, endpoint), c.out)
          << endpoint << c.name;
      EXPECT_EQ(testing::QueryColumn(folder.Archive(), "SELECT RAGSOC FROM CLIENTI WHERE CODICE = '0124'"),
                c.stored.empty() ? Rows{} : Rows{c.stored})
          << endpoint << c.name;
      if (c.name == "a ceased and an active one") {
        EXPECT_NE(FileText(trace).find("company: entry 1 of 2 companies: the only active one"), std::string::npos)
            << FileText(trace);
      }
    }
  }
}

TEST(PaidRequests, TheLedgerRecordsEachRequestBeforeItLeavesAndItsOutcome) {
  ProgramFolder folder(KORVANE_BINARY);
  testing::TempDir dir;
  const std::string ledger = dir.File("richieste.tsv");
  const Environment environment = {{"KORVANE_LEDGER", ledger}, {"KORVANE_DAILY_LIMIT", "10"}};
  TlsTestServer paid = Registry();
  EXPECT_EQ(RunAgainst(folder, paid, Arguments("01234567890"), environment), "0124\r\nexit 0");
  TlsTestServer refused = Registry("HTTP/1.1 402 Payment Required\r\nContent-Length: 0\r\n\r\n");
  EXPECT_EQ(RunAgainst(folder, refused, Arguments("IT 09876543210", {"-TIPOSOGGETTO", "F"}), environment),
            "HTTP/1.1 402 Payment Required\r\nexit 1");
  // Refused before the request: nothing recorded.
  testing::RunIsql(folder.Archive(), Setting("PartitaIvaPresenteClienti", "Riusa"));
  TlsTestServer unused = Registry();
  EXPECT_EQ(RunAgainst(folder, unused, Arguments("01234567890"), environment), "0124\r\nexit 0");

  const std::vector<Rows> lines = LedgerLines(ledger);
  ASSERT_EQ(lines.size(), 5u);
  EXPECT_EQ(lines[0], (Rows{"ora_utc", "evento", "richiesta", "utente", "ditta", "tipo", "partita_iva", "host",
                            "percorso", "esito", "codice_uscita", "messaggio"}));
  const std::string paidHost = "localhost:" + std::to_string(paid.Port());
  const std::string refusedHost = "localhost:" + std::to_string(refused.Port());
  const auto without = [](Rows fields) {  // the time and the request's number vary
    fields.erase(fields.begin(), fields.begin() + 1);
    fields.erase(fields.begin() + 1);
    return fields;
  };
  EXPECT_EQ(without(lines[1]),
            (Rows{"richiesta", "5", "01", "C", "01234567890", paidHost, "/base/01234567890", "", "", ""}));
  EXPECT_EQ(without(lines[2]),
            (Rows{"esito", "5", "01", "C", "01234567890", paidHost, "/base/01234567890", "200", "0", "0124"}));
  EXPECT_EQ(without(lines[3]),
            (Rows{"richiesta", "5", "01", "F", "IT09876543210", refusedHost, "/base/IT09876543210", "", "", ""}));
  EXPECT_EQ(without(lines[4]), (Rows{"esito", "5", "01", "F", "IT09876543210", refusedHost, "/base/IT09876543210",
                                     "402", "1", "HTTP/1.1 402 Payment Required"}));
  EXPECT_EQ(lines[1][2], lines[2][2]);
  EXPECT_NE(lines[1][2], lines[3][2]);
  EXPECT_EQ(lines[1][0].size(), 20u);
}

// korvane --controlla: every step before the paid request, one line each; nothing written, and a
// TLS connection to the registry opened and closed without a request byte.
testing::ProgramResult FreeCheck(const ProgramFolder& folder, TlsTestServer& registry,
                                 const std::vector<std::string>& extra, Environment environment = {}) {
  std::vector<std::string> arguments = {"--controlla", "-UTENTE", "5", "-DITTA", "01"};
  arguments.insert(arguments.end(), extra.begin(), extra.end());
  Environment all = folder.Environment(registry);
  all["KORVANE_APITOKEN"] = "segreto";
  for (auto& [name, value] : environment) all[name] = value;
  return testing::RunProgram(folder.Program(), arguments, all);
}

TEST(FreeCheck, AGoodFirmPassesEveryCheckAndNothingIsPaid) {
  ProgramFolder folder(KORVANE_BINARY);
  testing::RunIsql(folder.Archive(), Setting("PartitaIvaPresenteClienti", "Riusa") +
                                         "INSERT INTO CLIENTI (CODICE, PI) VALUES ('A9', 'IT 01234567890');\n");
  testing::TempDir dir;
  const std::string ledger = dir.File("richieste.tsv");
  const Rows before = Archive(folder);
  TlsTestServer registry({TlsTestServer::ExpectRequest()});
  const testing::ProgramResult result =
      FreeCheck(folder, registry, {"-PIVA", "01234567890"}, {{"KORVANE_LEDGER", ledger}});
  EXPECT_EQ(result.out,
            "OK parametri\n"
            "OK token del registro\n"
            "OK giornale delle richieste: " +
                ledger +
                " (sarà creato)\n"
                "OK utente 5\n"
                "OK archivio della ditta 01: " +
                folder.Archive() +
                "\n"
                "OK prossimo codice: 0124\n"
                "OK impostazioni della ditta\n"
                "OK permesso di inserimento in CLIENTI\n"
                "OK blocco di scrittura (PartitaIvaPresenteClienti)\n"
                "OK partita IVA 01234567890\n"
                "OK ricerca della partita IVA 01234567890: presente in archivio (codice A9): un'importazione "
                "stamperebbe A9 senza chiedere al registro\n"
                "OK connessione al registro localhost\n");
  EXPECT_EQ(result.exitCode, 0);
  EXPECT_EQ(result.err, "");
  EXPECT_TRUE(registry.WaitForHandshake(5000));
  registry.Stop();
  EXPECT_EQ(registry.Request(), "");
  EXPECT_EQ(Archive(folder), before);
  EXPECT_FALSE(std::filesystem::exists(ledger));
}

TEST(FreeCheck, EachBrokenPieceIsReportedInTheRunsWords) {
  struct Case {
    std::string name, archiveSql, usersSql;
    std::vector<std::string> extra;
    Environment environment;
    std::string line;
  };
  const Case cases[] = {
      {"no such user", "", "DELETE FROM UTENTI;\n", {}, {}, "ERRORE utente 5: Utente 5 non trovato\n"},
      {"a setting of no use",
       Setting("PartitaIvaPresenteClienti", "Forse"),
       "",
       {},
       {},
       "ERRORE impostazioni della ditta: Impostazione non valida (PartitaIvaPresenteClienti = Forse)\n"},
      {"no INSERT right",
       "GRANT SELECT ON CLIENTI TO LETTORE;\nGRANT SELECT ON FORNITO TO LETTORE;\n"
       "GRANT SELECT, UPDATE ON TABX TO LETTORE;\n",
       "GRANT SELECT ON UTENTI TO LETTORE;\nGRANT SELECT ON TABSOFTDES TO LETTORE;\n",
       {},
       {{"KORVANE_DB_USER", "LETTORE"}},
       "ERRORE permesso di inserimento in CLIENTI: no permission for INSERT access to TABLE CLIENTI\n"},
      {"no token",
       "",
       "",
       {},
       {{"KORVANE_APITOKEN", ""}},
       "ERRORE token del registro: Api Token non riconosciuto (parametro APITOKEN)\n"},
      {"an untrusted registry",
       "",
       "",
       {},
       {{"SSL_CERT_FILE", "/etc/hostname"}},
       "ERRORE connessione al registro localhost: Error connecting with SSL. "},
      {"check digits",
       Setting("ControlloPartitaIva", "Si"),
       "",
       {"-PIVA", "01234567890"},
       {},
       "ERRORE partita IVA 01234567890: P.IVA 01234567890 non valida\n"},
      {"a stored number refused",
       Setting("PartitaIvaPresenteClienti", "Rifiuta") +
           "INSERT INTO CLIENTI (CODICE, PI) VALUES ('A9', '01234567890');\n",
       "",
       {"-PIVA", "01234567890"},
       {},
       "ERRORE ricerca della partita IVA 01234567890: P.IVA 01234567890 presente in archivio (codice A9)\n"},
      {"a ledger in a missing folder",
       "",
       "",
       {},
       {{"KORVANE_LEDGER", "/nonexistent/richieste.tsv"}},
       "ERRORE giornale delle richieste: Giornale delle richieste non scrivibile (/nonexistent/richieste.tsv: No "
       "such file or directory)\n"},
  };
  for (const Case& c : cases) {
    ProgramFolder folder(KORVANE_BINARY);
    if (!c.archiveSql.empty()) testing::RunIsql(folder.Archive(), c.archiveSql);
    if (!c.usersSql.empty()) testing::RunIsql(folder.Users(), c.usersSql);
    const Rows before = Archive(folder);
    TlsTestServer registry({TlsTestServer::ExpectRequest()});
    const testing::ProgramResult result = FreeCheck(folder, registry, c.extra, c.environment);
    EXPECT_NE(result.out.find(c.line), std::string::npos) << c.name << "\n" << result.out;
    EXPECT_EQ(result.exitCode, 1) << c.name;
    EXPECT_EQ(result.err, "") << c.name;
    registry.Stop();
    EXPECT_EQ(registry.Request(), "") << c.name;
    EXPECT_EQ(Archive(folder), before) << c.name;
  }
}

}  // namespace
}  // namespace korvane
