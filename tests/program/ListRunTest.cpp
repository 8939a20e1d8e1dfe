// A list of VAT numbers imported by the built program against the registry simulator: the
// outcomes of each kind of row, the report and the file of rows to try again read back, a run
// that the registry stops half-way resumed to its end, and the free plan.
#include <gtest/gtest.h>

#include <signal.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <map>
#include <sstream>

#include "app/list/ListReport.h"
#include "store/AnswerStore.h"
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

// The report's outcome and code per line, as "line:outcome:code".
std::vector<std::string> ReportOutcomes(const std::string& path) {
  const ListTable table = ReadDelimitedText(ReadFile(path));
  std::vector<std::string> outcomes;
  for (std::size_t i = 1; i < table.records.size(); ++i) {
    const auto& cells = table.records[i].cells;
    outcomes.push_back(cells.at(0) + ":" + cells.at(3) + ":" + cells.at(4));
  }
  return outcomes;
}

// The ledger's requests for a number.
int Requests(const std::string& ledger, const std::string& vatNumber) {
  std::istringstream lines(ReadFile(ledger));
  int count = 0;
  for (std::string line; std::getline(lines, line);) {
    if (line.find("\trichiesta\t") != std::string::npos && line.find("\t" + vatNumber + "\t") != std::string::npos) {
      ++count;
    }
  }
  return count;
}

class ListRunTest : public ::testing::Test {
 protected:
  testing::ProgramResult RunList(const RegistrySimulator& registry, const std::vector<std::string>& extra) {
    std::vector<std::string> arguments = {"--lista", list_, "-UTENTE", "5", "-DITTA", "01", "-APITOKEN", "segreto"};
    arguments.insert(arguments.end(), extra.begin(), extra.end());
    return testing::RunProgram(folder_.Program(), arguments,
                               {{"SSL_CERT_FILE", registry.CaFile()},
                                {"KORVANE_REGISTRY_URL", registry.Url("/base/")},
                                {"KORVANE_ANSWER_STORE", store_},
                                {"KORVANE_LEDGER", ledger_}});
  }

  TempDir dir_;
  ProgramFolder folder_{KORVANE_BINARY};
  std::string list_ = dir_.File("clienti.csv");
  std::string store_ = dir_.File("risposte.sqlite");
  std::string ledger_ = dir_.File("richieste.tsv");
};

TEST_F(ListRunTest, EachKindOfRowThenAStopAndAResumeEachNumberOnceAndPaidOnce) {
  const std::vector<std::string> known = {"12485671007", "00743110157", "01234560017", "02345678902"};
  {
    // 12485671007 is in the archive already; 01234560017 fails for good with the registry's 503.
    const RegistrySimulator first(KORVANE_SIMULATOR, known);
    ASSERT_EQ(folder_.Import(first.Url("/base/"), first.CaFile(), "12485671007").out, "0124\r\n");
  }
  std::ofstream(dir_.File("outcomes")) << "01234560017 503\n";
  std::ofstream(list_) << "\xEF\xBB\xBFRagione sociale;Partita IVA\r\n"
                          "Esistente;12485671007\r\n"
                          "Zeri persi;743110157\r\n"
                          "Notazione;1,23457E+10\r\n"
                          "Doppione;IT 00743110157\r\n"
                          "Sconosciuta;99999999999\r\n"
                          "Servizio giu;01234560017\r\n"
                          "Dopo il credito;02345678902\r\n";
  {
    // Credit for one answer: the second paid request gets 402 and the run stops.
    const RegistrySimulator registry(KORVANE_SIMULATOR, known, 0,
                                     {"--outcomes", dir_.File("outcomes"), "--credit", "1"});
    const auto run = RunList(registry, {});
    EXPECT_EQ(run.exitCode, 3) << run.out;
    EXPECT_NE(run.out.find("Lista: 7 righe, 1 importate, 1 gi\xC3\xA0 presenti"), std::string::npos) << run.out;
    EXPECT_EQ(run.err, "");
    EXPECT_EQ(ReportOutcomes(dir_.File("clienti.rapporto.csv")),
              (std::vector<std::string>{"2:gi\xC3\xA0 presente:0124", "3:importato:0125", "4:non valido:",
                                        "5:duplicato:", "6:non valido:", "7:da riprovare:", "8:non tentata:"}));
    // The rows to try again, as the list wrote them.
    EXPECT_EQ(ReadFile(dir_.File("clienti.da-riprovare.csv")),
              "\xEF\xBB\xBFRagione sociale;Partita IVA\r\nServizio giu;01234560017\r\n"
              "Dopo il credito;02345678902\r\n");
  }
  {
    // The same command again, the registry well: only the rows not settled are asked.
    const RegistrySimulator registry(KORVANE_SIMULATOR, known);
    const auto run = RunList(registry, {});
    EXPECT_EQ(run.exitCode, 2) << run.out;  // two rows not valid
    EXPECT_EQ(ReportOutcomes(dir_.File("clienti.rapporto.csv")),
              (std::vector<std::string>{"2:gi\xC3\xA0 presente:0124", "3:importato:0125", "4:non valido:",
                                        "5:duplicato:", "6:non valido:", "7:importato:0126", "8:importato:0127"}));
  }
  EXPECT_EQ(folder_.Customers(), (std::vector<std::string>{"0123", "0124", "0125", "0126", "0127"}));
  EXPECT_EQ(Requests(ledger_, "00743110157"), 1);
  EXPECT_EQ(Requests(ledger_, "99999999999"), 1);
  EXPECT_EQ(Requests(ledger_, "01234560017"), 4);  // three tries, then once more on the resume
  // Each subject written by the list has its values in the store, the base of a later refresh.
  const auto base = store::AnswerStore(store_).LastWritten("01", folder_.Archive(), 'C', "0125");
  ASSERT_TRUE(base);
  EXPECT_EQ(base->vatNumber, "00743110157");
  const std::map<std::string, std::string> values(base->values.begin(), base->values.end());
  EXPECT_EQ(values.at("RAGSOC"), "Torrefazione Caff\xC3\xA8 Ner\xC3\xB2 S.r.l.");
  EXPECT_EQ(values.at("PI"), "00743110157");  // the number asked for
  EXPECT_EQ(base->values.size(), 8u);
}

TEST_F(ListRunTest, ARowsKindColumnImportsItAsACustomerOrASupplier) {
  const RegistrySimulator registry(KORVANE_SIMULATOR, {"12485671007", "00743110157"});
  std::ofstream(list_) << "P.IVA\tTipo\n12485671007\tFornitore\n12485671007\tC\n00743110157\t\n00743110157\tX\n";
  const auto run = RunList(registry, {});
  EXPECT_EQ(run.exitCode, 2) << run.out;  // the unknown kind
  EXPECT_EQ(ReportOutcomes(dir_.File("clienti.rapporto.csv")),
            (std::vector<std::string>{"2:importato:0001", "3:importato:0124", "4:importato:0125", "5:non valido:"}));
  EXPECT_EQ(folder_.Customers(), (std::vector<std::string>{"0123", "0124", "0125"}));
}

TEST_F(ListRunTest, ThePlanSendsNothingWritesNothingAndTellsWhetherItFits) {
  const RegistrySimulator registry(KORVANE_SIMULATOR, {"12485671007"});
  std::ofstream(list_) << "12485671007\n743110157\n1,23457E+10\n743110157\n";
  const auto plan = testing::RunProgram(
      folder_.Program(),
      {"--lista", list_, "--anteprima", "--max-richieste", "1", "-UTENTE", "5", "-DITTA", "01", "-APITOKEN", "segreto"},
      {{"SSL_CERT_FILE", registry.CaFile()},
       {"KORVANE_REGISTRY_URL", registry.Url("/base/")},
       {"KORVANE_ANSWER_STORE", store_},
       {"KORVANE_LEDGER", ledger_},
       {"KORVANE_REQUEST_PRICE", "0,05"}});
  EXPECT_EQ(plan.out,
            "Riga 1 12485671007: da pagare\r\n"
            "Riga 2 00743110157: da pagare (P.IVA completata con gli zeri iniziali)\r\n"
            "Riga 3 1,23457E+10: non valido: P.IVA in notazione scientifica (1,23457E+10): cifre perse, salvare la "
            "colonna come testo\r\n"
            "Riga 4 00743110157: duplicato della riga 2\r\n"
            "Anteprima: 4 righe, 2 richieste da pagare (0,10 euro); oltre --max-richieste 1; la lista non starebbe "
            "nei limiti, nulla inviato\r\n");
  EXPECT_EQ(plan.exitCode, 3);
  EXPECT_FALSE(std::filesystem::exists(store_));
  EXPECT_FALSE(std::filesystem::exists(ledger_));
  EXPECT_FALSE(std::filesystem::exists(dir_.File("clienti.rapporto.csv")));
  EXPECT_EQ(folder_.Customers(), (std::vector<std::string>{"0123"}));
}

TEST_F(ListRunTest, WhatStopsTheRunBeforeAnyRowExitsOne) {
  const RegistrySimulator registry(KORVANE_SIMULATOR, {});
  std::ofstream(list_) << "12485671007\n";
  const struct {
    std::vector<std::string> arguments;
    std::string line;
  } cases[] = {
      {{"--lista", dir_.File("manca.csv"), "-UTENTE", "5", "-DITTA", "01", "-APITOKEN", "segreto"},
       "File della lista non leggibile (" + dir_.File("manca.csv") + ": No such file or directory)\r\n"},
      {{"--lista", list_, "--parallele", "17", "-UTENTE", "5", "-DITTA", "01", "-APITOKEN", "segreto"},
       "Valore non valido per --parallele (da 1 a 16)\r\n"},
      {{"--lista", list_, "-UTENTE", "5", "-DITTA", "01", "-PIVA", "12485671007", "-APITOKEN", "segreto"},
       "-PIVA non ammesso con --lista\r\n"},
  };
  for (const auto& test : cases) {
    const auto run = testing::RunProgram(folder_.Program(), test.arguments,
                                         {{"SSL_CERT_FILE", registry.CaFile()},
                                          {"KORVANE_REGISTRY_URL", registry.Url("/base/")},
                                          {"KORVANE_ANSWER_STORE", store_}});
    EXPECT_EQ(run.out, test.line);
    EXPECT_EQ(run.exitCode, 1);
  }
  // A store that cannot be used is refused before anything is paid.
  std::filesystem::create_directory(dir_.File("cartella"));
  const auto run =
      testing::RunProgram(folder_.Program(), {"--lista", list_, "-UTENTE", "5", "-DITTA", "01", "-APITOKEN", "segreto"},
                          {{"SSL_CERT_FILE", registry.CaFile()},
                           {"KORVANE_REGISTRY_URL", registry.Url("/base/")},
                           {"KORVANE_ANSWER_STORE", dir_.File("cartella")},
                           {"KORVANE_LEDGER", ledger_}});
  EXPECT_EQ(run.out,
            "Archivio delle risposte non utilizzabile (" + dir_.File("cartella") + ": not a regular file)\r\n");
  EXPECT_EQ(run.exitCode, 1);
  EXPECT_FALSE(std::filesystem::exists(ledger_));
}

// A stop signal in the middle of a list: the row under way is written, the rows not reached are
// "non tentata", the report and the summary are written and the exit code is 3; the same command
// again imports the rest, paying each number once.
TEST_F(ListRunTest, AStopSignalEndsTheListCleanlyAndTheResumeFinishesIt) {
  const std::vector<std::string> numbers = {"10000000001", "10000000002", "10000000003",
                                            "10000000004", "10000000005", "10000000006"};
  std::ofstream list(list_);
  for (const std::string& number : numbers) list << number << "\n";
  list.close();
  {
    const RegistrySimulator registry(KORVANE_SIMULATOR, numbers, 400);
    testing::StartedProgram run(
        folder_.Program(),
        {"--lista", list_, "--parallele", "1", "-UTENTE", "5", "-DITTA", "01", "-APITOKEN", "segreto"},
        {{"SSL_CERT_FILE", registry.CaFile()},
         {"KORVANE_REGISTRY_URL", registry.Url("/base/")},
         {"KORVANE_ANSWER_STORE", store_},
         {"KORVANE_LEDGER", ledger_}});
    // Stopped once the second request has left.
    for (int i = 0; i < 400 && Requests(ledger_, numbers[1]) == 0; ++i) usleep(25000);
    ASSERT_EQ(kill(run.Pid(), SIGTERM), 0);
    ASSERT_TRUE(run.Wait(60000));
    EXPECT_EQ(run.Result().exitCode, 3) << run.Result().out;
    EXPECT_NE(run.Result().out.find("(interrotta: Operazione interrotta (SIGTERM))"), std::string::npos)
        << run.Result().out;
    const std::vector<std::string> outcomes = ReportOutcomes(dir_.File("clienti.rapporto.csv"));
    ASSERT_EQ(outcomes.size(), numbers.size());
    EXPECT_EQ(outcomes[0], "1:importato:0124");
    EXPECT_EQ(outcomes[1], "2:importato:0125");  // under way when the signal came
    EXPECT_EQ(outcomes.back(), "6:non tentata:");
    EXPECT_TRUE(std::filesystem::exists(dir_.File("clienti.da-riprovare.csv")));
  }
  const RegistrySimulator registry(KORVANE_SIMULATOR, numbers);
  const auto run = RunList(registry, {});
  EXPECT_EQ(run.exitCode, 0) << run.out;
  EXPECT_EQ(folder_.Customers(), (std::vector<std::string>{"0123", "0124", "0125", "0126", "0127", "0128", "0129"}));
  for (const std::string& number : numbers) EXPECT_EQ(Requests(ledger_, number), 1) << number;
}

// A resumed list pays nothing for what an earlier run paid: a row whose answer is in the store is
// written from it, and a row whose request left without an outcome recorded is looked up in the
// archive first.
TEST_F(ListRunTest, AResumeWritesFromTheStoreAndLooksARequestThatLeftUpInTheArchive) {
  const RegistrySimulator registry(KORVANE_SIMULATOR, {"12485671007", "00743110157"});
  ASSERT_EQ(folder_.Import(registry.Url("/base/"), registry.CaFile(), "00743110157").out, "0124\r\n");
  std::ofstream(list_) << "12485671007\n00743110157\n";
  {
    // As a run killed after both requests left, the first answer kept, neither outcome recorded.
    store::AnswerStore store(store_);
    const std::int64_t list = store.ListId(list_ + "|5|01|C", 1);
    const std::string body =
        R"({"success":true,"data":{"denominazione":"Dallo Store S.p.A.","cf":"12485671007",)"
        R"("indirizzo":"Via Roma 12","civico":"12","comune":"Milano","provincia":"MI","cap":"20121"}})";
    const std::int64_t answer = store.SaveAnswer({0, "12485671007", "localhost/base/", 1, body, ""});
    store.SaveListRow(list, {1, "12485671007", "12485671007", "richiesta inviata", "", "", true, answer}, 1);
    store.SaveListRow(list, {2, "00743110157", "00743110157", "richiesta inviata", "", "", true, std::nullopt}, 1);
  }
  const auto run = RunList(registry, {});
  EXPECT_EQ(run.exitCode, 0) << run.out << ReadFile(dir_.File("clienti.rapporto.csv"));
  EXPECT_EQ(ReportOutcomes(dir_.File("clienti.rapporto.csv")),
            (std::vector<std::string>{"1:riusato:0125", "2:importato:0124"}));
  EXPECT_EQ(Requests(ledger_, "12485671007"), 0);
  EXPECT_EQ(Requests(ledger_, "00743110157"), 0);
  EXPECT_EQ(folder_.Customers(), (std::vector<std::string>{"0123", "0124", "0125"}));
}

// A number already in the archive is imported again only when asked; an answer in the store is
// used instead of paying only when younger than the age given.
TEST_F(ListRunTest, NumbersPresentImportedAgainFromAnAnswerYoungEnough) {
  const RegistrySimulator registry(KORVANE_SIMULATOR, {"12485671007"});
  std::ofstream(list_) << "12485671007\n";
  EXPECT_EQ(RunList(registry, {}).exitCode, 0);
  EXPECT_EQ(Requests(ledger_, "12485671007"), 1);
  const struct {
    std::string list;
    std::vector<std::string> switches;
    std::string outcome;
    int requests;  // for the number in the ledger, after the run
  } cases[] = {
      {"presenti.csv", {}, "1:gi\xC3\xA0 presente:0124", 1},
      {"dallo-store.csv", {"--importa-presenti", "--eta-risposte", "1"}, "1:riusato:0125", 1},
      {"pagata.csv", {"--importa-presenti"}, "1:importato:0126", 2},
  };
  for (const auto& test : cases) {
    list_ = dir_.File(test.list);
    std::ofstream(list_) << "12485671007\n";
    const auto run = RunList(registry, test.switches);
    EXPECT_EQ(run.exitCode, 0) << run.out;
    const std::string report = list_.substr(0, list_.size() - 4) + ".rapporto.csv";
    EXPECT_EQ(ReportOutcomes(report), std::vector<std::string>{test.outcome}) << test.list;
    EXPECT_EQ(Requests(ledger_, "12485671007"), test.requests) << test.list;
  }
}

// A 429 with Retry-After is asked again after the wait and then imported; never "non valido".
TEST_F(ListRunTest, ATemporaryRefusalIsAskedAgain) {
  std::ofstream(dir_.File("outcomes")) << "12485671007 429 retry-after=1 times=2\n";
  const RegistrySimulator registry(KORVANE_SIMULATOR, {"12485671007"}, 0, {"--outcomes", dir_.File("outcomes")});
  std::ofstream(list_) << "12485671007\n";
  const auto run = RunList(registry, {});
  EXPECT_EQ(run.exitCode, 0) << run.out;
  EXPECT_EQ(ReportOutcomes(dir_.File("clienti.rapporto.csv")), std::vector<std::string>{"1:importato:0124"});
  EXPECT_EQ(Requests(ledger_, "12485671007"), 3);
}

}  // namespace
}  // namespace korvane
