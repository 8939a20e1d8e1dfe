// A refresh of stored subjects by the built program: the differences first with nothing written,
// then the merge applied, which keeps a name corrected by hand and records the new base; the apply
// that replays the last comparison; the mark of a company not active; the answers paid for and
// kept, through a stop and a resume; the free plan.
#include <gtest/gtest.h>

#include <chrono>
#include <csignal>
#include <fstream>
#include <map>
#include <sstream>
#include <thread>

#include "store/AnswerStore.h"
#include "support/FirebirdFixture.h"
#include "support/ProgramFolder.h"
#include "support/RegistrySimulator.h"
#include "support/RunProgram.h"
#include "support/TempDir.h"

namespace korvane {
namespace {

using testing::ProgramFolder;
using testing::RegistrySimulator;
using testing::TempDir;

std::string ReadFile(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  std::ostringstream content;
  content << in.rdbuf();
  return content.str();
}

constexpr const char* kHeader =
    "Codice;P.IVA;Campo;Valore in archivio;Valore dal registro;Base;Azione;Attivit\xC3\xA0\r\n";

std::int64_t NowUnix() {
  return std::chrono::duration_cast<std::chrono::seconds>(std::chrono::system_clock::now().time_since_epoch()).count();
}

class RefreshRunTest : public ::testing::Test {
 protected:
  void SetUp() override {
    testing::RunIsql(folder_.Archive(),
                     "INSERT INTO CLIENTI (CODICE, RAGSOC, PI, INDIRIZZO, NUMEROCIVICO, CITTA, PROVINCIA) VALUES "
                     "('C1', 'Rossi S.r.l.', '12485671007', 'Via Roma', '3', 'Milano', 'MI');"
                     "INSERT INTO CLIENTI (CODICE, RAGSOC, PI) VALUES ('C2', 'Bianchi', '00743110157');");
    store::AnswerStore store(store_);
    store.SaveAnswer({0, "12485671007", "registro/base", NowUnix(),
                      R"({"data":{"denominazione":"ROSSI SPA","cf":"12485671007","indirizzo":"Via Milano 7",)"
                      R"("civico":"7","comune":"Torino","provincia":"TO","cap":"10100","stato_attivita":"ATTIVA"}})",
                      ""});
    store.SaveWrittenSubject({"01",
                              folder_.Archive(),
                              'C',
                              "C1",
                              "12485671007",
                              NowUnix() - 86400,
                              {{"RAGSOC", "ROSSI SRL"}, {"INDIRIZZO", "Via Roma"}, {"CITTA", "Milano"}}});
    std::ofstream(codes_) << "C1\nC2\n";
  }

  std::vector<std::string> Arguments(const std::vector<std::string>& extra) const {
    std::vector<std::string> arguments = {"--aggiorna", "-UTENTE",  "5",    "-DITTA",     "01",   "-APITOKEN",
                                          "segreto",    "--codici", codes_, "--rapporto", report_};
    arguments.insert(arguments.end(), extra.begin(), extra.end());
    return arguments;
  }

  std::map<std::string, std::string> Environment(const RegistrySimulator& registry) const {
    return {{"SSL_CERT_FILE", registry.CaFile()},
            {"KORVANE_REGISTRY_URL", registry.Url("/base/")},
            {"KORVANE_ANSWER_STORE", store_},
            {"KORVANE_LEDGER", ledger_}};
  }

  testing::ProgramResult Refresh(const std::vector<std::string>& extra) {
    return testing::RunProgram(folder_.Program(), Arguments(extra), Environment(registry_));
  }

  // The requests the ledger recorded for a number.
  int Requests(const std::string& vatNumber) const {
    std::istringstream lines(ReadFile(ledger_));
    int count = 0;
    for (std::string line; std::getline(lines, line);) {
      count +=
          line.find("\trichiesta\t") != std::string::npos && line.find("\t" + vatNumber + "\t") != std::string::npos;
    }
    return count;
  }

  std::string Row(const std::string& code) {
    return testing::QueryColumn(
               folder_.Archive(),
               "SELECT RAGSOC || '|' || INDIRIZZO || '|' || NUMEROCIVICO || '|' || CITTA || '|' || "
               "COALESCE(CAP, '-') || '|' || COALESCE(CAST(DATAULTIMOAGGIORNAMENTO AS VARCHAR(12)), '-') FROM CLIENTI "
               "WHERE CODICE = '" +
                   code + "'")
        .at(0);
  }

  TempDir dir_;
  ProgramFolder folder_{KORVANE_BINARY};
  RegistrySimulator registry_{KORVANE_SIMULATOR, {"12485671007"}};
  std::string store_ = dir_.File("risposte.sqlite");
  std::string codes_ = dir_.File("codici.txt");
  std::string report_ = dir_.File("aggiornamento.csv");
  std::string ledger_ = dir_.File("richieste.tsv");
};

TEST_F(RefreshRunTest, TheDifferencesWriteNothingThenTheMergeKeepsTheHandCorrection) {
  const std::string before = Row("C1");
  const auto differences = Refresh({});
  // C2 has no answer kept: it is asked for, and the registry does not know it.
  EXPECT_EQ(differences.exitCode, 2) << differences.out;
  EXPECT_NE(differences.out.find("1 con modifiche"), std::string::npos) << differences.out;
  EXPECT_NE(differences.out.find("1 non riusciti"), std::string::npos) << differences.out;
  EXPECT_NE(differences.out.find("nulla scritto"), std::string::npos) << differences.out;
  EXPECT_EQ(Row("C1"), before);
  const std::string report = ReadFile(report_);
  EXPECT_NE(report.find("C1;12485671007;RAGSOC;Rossi S.r.l.;ROSSI SPA;ROSSI SRL;corretto a mano;attiva\r\n"),
            std::string::npos)
      << report;
  EXPECT_NE(report.find("C1;12485671007;INDIRIZZO;Via Roma;Via Milano;Via Roma;aggiornato;attiva\r\n"),
            std::string::npos);
  EXPECT_NE(report.find("C1;12485671007;NUMEROCIVICO;3;7;;senza base;attiva\r\n"), std::string::npos);
  EXPECT_NE(report.find("C1;12485671007;CAP;;10100;;compilato;attiva\r\n"), std::string::npos);
  EXPECT_NE(report.find("C2;00743110157;;;;;HTTP/1.1 404"), std::string::npos) << report;
  EXPECT_EQ(testing::QueryColumn(folder_.Archive(),
                                 "SELECT COUNT(*) FROM CLIENTI WHERE DATAULTIMOAGGIORNAMENTO "
                                 "IS NOT NULL AND CODICE IN ('C1', 'C2')")
                .at(0),
            "0");

  std::ofstream(codes_) << "C1\n";
  const auto applied = Refresh({"--applica"});
  EXPECT_EQ(applied.exitCode, 0) << applied.out;
  EXPECT_NE(applied.out.find("1 aggiornati"), std::string::npos) << applied.out;
  // The name corrected by hand and the house number never written by korvane are kept.
  EXPECT_TRUE(Row("C1").starts_with("Rossi S.r.l.|Via Milano|3|Torino|10100|")) << Row("C1");
  EXPECT_EQ(Row("C1").find("|-", 0), std::string::npos);  // dated today
  const auto base = store::AnswerStore(store_).LastWritten("01", folder_.Archive(), 'C', "C1");
  ASSERT_TRUE(base);
  const std::map<std::string, std::string> values(base->values.begin(), base->values.end());
  EXPECT_EQ(values, (std::map<std::string, std::string>{{"RAGSOC", "ROSSI SRL"},
                                                        {"INDIRIZZO", "Via Milano"},
                                                        {"CITTA", "Torino"},
                                                        {"CF", "12485671007"},
                                                        {"CAP", "10100"}}));
  // Once applied, the same comparison has nothing left to write.
  const auto again = Refresh({"--applica"});
  EXPECT_EQ(again.exitCode, 0) << again.out;
  EXPECT_NE(again.out.find("0 aggiornati"), std::string::npos) << again.out;
}

// A subject a list wrote compares unchanged against the same answer: the base it recorded holds
// what the archive keeps of each value (an accented name in the archive's code page, the
// recipient code in the company's column, the PEC column's default), and a hand correction after
// it is told apart.
TEST_F(RefreshRunTest, ASubjectAListWroteComparesUnchangedUntilAPersonCorrectsIt) {
  testing::RunIsql(folder_.Archive(),
                   "ALTER TABLE CLIENTI ADD CODDEST CHAR(7) DEFAULT '0000000', ADD PECMAIL VARCHAR(40);\n"
                   "INSERT INTO TABX VALUES ('ColonnaCodiceDestinatarioClienti', 'CODDEST', NULL);\n"
                   "INSERT INTO TABX VALUES ('ColonnaPecClienti', 'PECMAIL', NULL);\n");
  const std::string list = dir_.File("clienti.txt");
  std::ofstream(list) << "02345678902\n";
  const RegistrySimulator registry(KORVANE_SIMULATOR, {"02345678902"});
  const auto imported =
      testing::RunProgram(folder_.Program(), {"--lista", list, "-UTENTE", "5", "-DITTA", "01", "-APITOKEN", "segreto"},
                          {{"SSL_CERT_FILE", registry.CaFile()},
                           {"KORVANE_REGISTRY_URL", registry.Url("/base/")},
                           {"KORVANE_ANSWER_STORE", store_}});
  ASSERT_EQ(imported.exitCode, 0) << imported.out;
  ASSERT_NE(imported.out.find("1 importate"), std::string::npos) << imported.out;
  const auto base = store::AnswerStore(store_).LastWritten("01", folder_.Archive(), 'C', "0124");
  ASSERT_TRUE(base);
  const std::map<std::string, std::string> values(base->values.begin(), base->values.end());
  EXPECT_EQ(values.at("CODDEST"), "W7YVJK9");
  EXPECT_EQ(values.at("PECMAIL"), "");
  EXPECT_EQ(values.at("PI"), "02345678902");
  EXPECT_EQ(values.size(), 10u);

  store::AnswerStore(store_).SaveAnswer({0, "02345678902", "registro/base", NowUnix(),
                                         ReadFile(KORVANE_SOURCE_DIR "/tools/demo/registry/01234567890.json"), ""});
  std::ofstream(codes_) << "0124\n";
  const auto unchanged = Refresh({});
  EXPECT_EQ(unchanged.exitCode, 0) << unchanged.out;
  EXPECT_NE(unchanged.out.find("1 invariati"), std::string::npos) << unchanged.out;

  testing::RunIsql(folder_.Archive(), "UPDATE CLIENTI SET CITTA = 'Milano (MI)' WHERE CODICE = '0124';");
  const auto corrected = Refresh({});
  EXPECT_NE(ReadFile(report_).find("0124;02345678902;CITTA;Milano (MI);Milano;Milano;corretto a mano;attiva\r\n"),
            std::string::npos)
      << ReadFile(report_);
}

// The apply writes what the last comparison showed and nothing else: not what a newer answer
// would give, not a row changed since the comparison, not a subject never compared.
TEST_F(RefreshRunTest, TheApplyReplaysTheLastComparisonOnlyWhereTheRowIsAsItWasSeen) {
  testing::RunIsql(folder_.Archive(),
                   "INSERT INTO CLIENTI (CODICE, RAGSOC, PI, CITTA) VALUES ('C3', 'Verdi', '12485671007', 'Roma');"
                   "INSERT INTO CLIENTI (CODICE, RAGSOC, PI) VALUES ('C4', 'Neri', '12485671007');");
  std::ofstream(codes_) << "C1\nC3\n";
  ASSERT_EQ(Refresh({}).exitCode, 0);
  // After the comparison: a newer answer, and a person who changes C3's town.
  store::AnswerStore(store_).SaveAnswer({0, "12485671007", "registro/base", NowUnix() + 10,
                                         R"({"data":{"denominazione":"ALTRA","comune":"Bari","cap":"70100"}})", ""});
  testing::RunIsql(folder_.Archive(), "UPDATE CLIENTI SET CITTA = 'Roma (RM)' WHERE CODICE = 'C3';");

  std::ofstream(codes_) << "C1\nC3\nC4\n";
  // A field locked since the comparison is only reported.
  std::ofstream(dir_.File("blocchi.csv")) << "C1;cap\n";
  const auto applied = Refresh({"--applica", "--campi-bloccati", dir_.File("blocchi.csv")});
  EXPECT_EQ(applied.exitCode, 2) << applied.out;
  EXPECT_NE(applied.out.find("1 aggiornati, 0 gi\xC3\xA0 applicati, 1 modificati nel frattempo, "
                             "1 senza confronto"),
            std::string::npos)
      << applied.out;
  EXPECT_TRUE(Row("C1").starts_with("Rossi S.r.l.|Via Milano|3|Torino|-|")) << Row("C1");
  EXPECT_EQ(testing::QueryColumn(folder_.Archive(),
                                 "SELECT CITTA || '|' || COALESCE(CAP, '-') || '|' || "
                                 "COALESCE(DATAULTIMOAGGIORNAMENTO, '-') FROM CLIENTI "
                                 "WHERE CODICE = 'C3'"),
            std::vector<std::string>{"Roma (RM)|-|-"});
  const std::string report = ReadFile(report_);
  EXPECT_NE(report.find("C3;12485671007;;;;;modificato nel frattempo;attiva\r\n"), std::string::npos) << report;
  EXPECT_NE(report.find("C4;12485671007;;;;;nessun confronto da applicare;attiva\r\n"), std::string::npos);
  EXPECT_NE(report.find("C1;12485671007;CAP;;10100;;bloccato;attiva\r\n"), std::string::npos);
}

// A subject whose latest comparison failed has nothing to apply, whatever an older one showed.
TEST_F(RefreshRunTest, ASubjectThatCouldNotBeComparedAgainHasNothingToApply) {
  std::ofstream(codes_) << "C1\n";
  ASSERT_EQ(Refresh({}).exitCode, 0);
  store::AnswerStore(store_).SaveAnswer(
      {0, "12485671007", "registro/base", NowUnix() + 10, R"({"success":false})", ""});
  EXPECT_EQ(Refresh({}).exitCode, 2);
  const std::string before = Row("C1");
  const auto applied = Refresh({"--applica"});
  EXPECT_EQ(applied.exitCode, 2) << applied.out;
  EXPECT_NE(applied.out.find("1 senza confronto"), std::string::npos) << applied.out;
  EXPECT_EQ(Row("C1"), before);
}

// A company setting names the column that marks a company the registry gives as not active: the
// differences show the mark to write, the apply writes it; a column that cannot hold every mark is
// refused before anything is compared.
TEST_F(RefreshRunTest, TheApplyMarksACeasedCompanyInTheColumnTheCompanyNames) {
  testing::RunIsql(folder_.Archive(),
                   "ALTER TABLE CLIENTI ADD STATO VARCHAR(20), ADD BREVE VARCHAR(3);\n"
                   "INSERT INTO TABX VALUES ('ColonnaImpresaCessataClienti', 'stato', NULL);\n"
                   "UPDATE CLIENTI SET INDIRIZZO = 'Via Milano', NUMEROCIVICO = '7', CITTA = 'Torino', "
                   "PROVINCIA = 'TO', CAP = '10100', RAGSOC = 'ROSSI SPA', CF = '12485671007' WHERE CODICE = 'C1';");
  store::AnswerStore(store_).SaveAnswer(
      {0, "12485671007", "registro/base", NowUnix() + 10,
       R"({"data":{"denominazione":"ROSSI SPA","cf":"12485671007","indirizzo":"Via Milano 7","civico":"7",)"
       R"("comune":"Torino","provincia":"TO","cap":"10100","stato_attivita":"IN LIQUIDAZIONE"}})",
       ""});
  std::ofstream(codes_) << "C1\n";
  const auto differences = Refresh({});
  EXPECT_EQ(differences.exitCode, 0) << differences.out;
  EXPECT_EQ(ReadFile(report_), "\xEF\xBB\xBF" + std::string(kHeader) +
                                   "C1;12485671007;STATO;;IN LIQUIDAZIONE;;compilato;in liquidazione\r\n");
  EXPECT_EQ(testing::QueryColumn(folder_.Archive(), "SELECT COALESCE(STATO, '-') FROM CLIENTI WHERE CODICE = 'C1'"),
            std::vector<std::string>{"-"});
  EXPECT_EQ(Refresh({"--applica"}).exitCode, 0);
  EXPECT_EQ(testing::QueryColumn(folder_.Archive(), "SELECT STATO FROM CLIENTI WHERE CODICE = 'C1'"),
            std::vector<std::string>{"IN LIQUIDAZIONE"});

  testing::RunIsql(folder_.Archive(), "UPDATE TABX SET TESTO = 'BREVE' WHERE NOME = 'ColonnaImpresaCessataClienti';");
  const auto refused = Refresh({});
  EXPECT_EQ(refused.exitCode, 1);
  EXPECT_EQ(refused.out, "Impostazione non valida (ColonnaImpresaCessataClienti = BREVE)\r\n");
}

// The answers not in the store are paid for and kept: a refresh stopped by a signal ends after
// the subject under way with its report, and the same command then pays only for the rest.
TEST_F(RefreshRunTest, AStoppedRefreshEndsWithItsReportAndTheResumePaysNothingTwice) {
  testing::RunIsql(folder_.Archive(),
                   "INSERT INTO CLIENTI (CODICE, RAGSOC, PI) VALUES ('S1', 'Uno', '01234560017');"
                   "INSERT INTO CLIENTI (CODICE, RAGSOC, PI) VALUES ('S2', 'Due', '02345678902');"
                   "INSERT INTO CLIENTI (CODICE, RAGSOC, PI) VALUES ('S3', 'Tre', '01234567890');");
  std::ofstream(codes_) << "C1\nC2\nS1\nS2\nS3\n";
  const std::vector<std::string> numbers{"00743110157", "01234560017", "02345678902", "01234567890"};
  const RegistrySimulator slow(KORVANE_SIMULATOR, numbers, 700);
  {
    testing::StartedProgram run(folder_.Program(), Arguments({}), Environment(slow));
    // Once the first request is recorded (C1's answer is in the store already), a stop signal.
    for (int waited = 0; Requests("00743110157") == 0 && waited < 30000; waited += 20) {
      std::this_thread::sleep_for(std::chrono::milliseconds(20));
    }
    ::kill(run.Pid(), SIGTERM);
    ASSERT_TRUE(run.Wait(60000));
    EXPECT_EQ(run.Result().exitCode, 3) << run.Result().out;
    EXPECT_NE(run.Result().out.find(" 3 non tentati; 1 richieste pagate; nulla scritto; rapporto " + report_ +
                                    " (interrotto: Operazione interrotta (SIGTERM))"),
              std::string::npos)
        << run.Result().out;
    EXPECT_NE(ReadFile(report_).find("S3;01234567890;;;;;non tentato;attiva\r\n"), std::string::npos);
  }
  const auto resumed = testing::RunProgram(folder_.Program(), Arguments({}), Environment(slow));
  EXPECT_EQ(resumed.exitCode, 0) << resumed.out;
  EXPECT_NE(resumed.out.find("5 con modifiche"), std::string::npos) << resumed.out;
  EXPECT_NE(resumed.out.find("; 3 richieste pagate;"), std::string::npos) << resumed.out;
  for (const std::string& number : numbers) EXPECT_EQ(Requests(number), 1) << number;
  EXPECT_EQ(Requests("12485671007"), 0);
  EXPECT_EQ(
      testing::QueryColumn(folder_.Archive(), "SELECT RAGSOC || COALESCE(CITTA, '-') FROM CLIENTI WHERE CODICE = 'S1'"),
      std::vector<std::string>{"Uno-"});
}

// The run's limit and the daily one stop the refresh before a request beyond them: C1's answer is
// in the store, C2's would be paid.
TEST_F(RefreshRunTest, TheLimitsStopTheRunBeforeARequestBeyondThem) {
  auto dailyLimit = Environment(registry_);
  dailyLimit["KORVANE_DAILY_LIMIT"] = "0";
  const std::pair<testing::ProgramResult, std::string> runs[] = {
      {testing::RunProgram(folder_.Program(), Arguments({"--max-richieste", "0"}), Environment(registry_)),
       "limite di richieste raggiunto (--max-richieste 0)"},
      {testing::RunProgram(folder_.Program(), Arguments({}), dailyLimit), "Limite giornaliero"},
  };
  for (const auto& [run, reason] : runs) {
    EXPECT_EQ(run.exitCode, 3) << run.out;
    EXPECT_NE(run.out.find("1 con modifiche"), std::string::npos) << run.out;
    EXPECT_NE(run.out.find("1 non tentati; 0 richieste pagate; nulla scritto; rapporto " + report_ +
                           " (interrotto: " + reason),
              std::string::npos)
        << run.out;
  }
  EXPECT_EQ(Requests("00743110157"), 0);
}

TEST_F(RefreshRunTest, ThePlanCountsTheAnswersKeptAndSendsNothing) {
  const auto plan = Refresh({"--anteprima"});
  EXPECT_EQ(plan.exitCode, 0) << plan.out;
  EXPECT_EQ(plan.out,
            "Anteprima: 2 soggetti, 1 risposte gi\xC3\xA0 nell'archivio delle risposte, 1 richieste da pagare; "
            "nulla inviato\r\n");
  EXPECT_FALSE(std::ifstream(report_).good());
  const auto refused = Refresh({"--anteprima", "--applica"});
  EXPECT_EQ(refused.exitCode, 1);
  EXPECT_EQ(refused.out, "--anteprima e --applica non vanno insieme\r\n");
}

}  // namespace
}  // namespace korvane
