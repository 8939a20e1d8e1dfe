// Runs of the built program whose archive and users database are reached through the local
// database server, as runs at the same time on one archive need: values that cannot be written
// fail before the registry is asked, and runs that compute the same code all write a row.
#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <map>
#include <memory>
#include <string>
#include <thread>

#include "config/WriteLock.h"
#include "config/QelDBUtility.h"
#include "db/IBDatabase.h"
#include "db/IBSQL.h"
#include "serverlogin/ServerLogin.h"
#include "support/EngineMonitor.h"
#include "support/FirebirdFixture.h"
#include "support/ProgramFolder.h"
#include "support/RunProgram.h"
#include "support/TempDir.h"
#include "support/TestCertificates.h"
#include "support/TlsGatedServer.h"
#include "support/TlsTestServer.h"

namespace korvane {
namespace {

using testing::ProgramResult;
using testing::QueryColumn;
using testing::RunIsql;
using testing::TlsGatedServer;
using testing::TlsTestServer;
using Rows = std::vector<std::string>;

std::string Answer() {
  const std::string body =
      R"({"success":true,"data":{"denominazione":"Rossi S.p.A.","cf":"01234567890","indirizzo":"Via 4 Novembre 4",)"
      R"("civico":"4","comune":"Torino","provincia":"TO","cap":"10121"}})";
  return testing::JsonAnswer(body);
}

// Another writer's insert into the archive, run in a snapshot transaction that stays open until
// the test commits or rolls it back.
class OtherWriter {
 public:
  OtherWriter(const std::string& database, const std::string& insert) {
    OpenIBDatabaseFile(database_, database,
                       config::DatabaseLogin{.user = serverlogin::kUser, .password = serverlogin::Password()});
    insert_.OwnTransaction(std::make_unique<TIBTransaction>(&database_, TIBTransactionLevel::ibtrSnapshot));
    insert_.AddLine(insert);
    Transaction().StartTransaction();
    insert_.ExecQuery();
  }

  TIBDatabase& Database() { return database_; }
  TIBTransaction& Transaction() { return *insert_.Transaction(); }

 private:
  TIBDatabase database_;
  TIBSQL insert_{&database_};
};

// A program folder with its users database beside it; a dati.ini there and the user's
// "Archivio" parameter send both connections through the local server. CLIENTI holds 0123.
class ConcurrentImportTest : public ::testing::Test {
 protected:
  void SetUp() override {
    std::filesystem::create_directories(root_.File("bin/user"));
    std::filesystem::copy_file(KORVANE_BINARY, program_);
    const std::string users = root_.File("bin/user/user.fdb");
    testing::CreateDatabase(users, testing::FixtureScript("users.sql"));
    testing::CreateDatabase(archive_, testing::FixtureScript("archive.sql"));
    RunIsql(users,
            "INSERT INTO UTENTI VALUES (5, 'Anna', '01', 'x');\n"
            "INSERT INTO TABSOFTDES VALUES (5, '01', 'Archivio', '" +
                served_ + "');\n");
    RunIsql(archive_, "INSERT INTO CLIENTI (CODICE) VALUES ('0123');\n");
    std::ofstream(root_.File("bin/user/dati.ini")) << "[CONFIG]\r\nPercorsoDatabase=localhost:" << users << "\r\n";
    // The server reaches the users database inside the program folder.
    for (const std::string& folder : {root_.Path().string(), root_.File("bin")}) {
      std::filesystem::permissions(folder, std::filesystem::perms::others_exec, std::filesystem::perm_options::add);
    }
    testing::GrantServerAccess(users);
    testing::GrantServerAccess(archive_);
    testing::TestCertificates::Get().WriteCaPem(caFile_);
  }

  ProgramResult Run(const std::string& registryUrl, std::vector<std::string> extra = {},
                    const std::string& piva = "01234567890", const std::string& trace = "",
                    const std::map<std::string, std::string>& more = {}) {
    std::vector<std::string> arguments = {"-UTENTE", "5", "-DITTA", "01", "-PIVA", piva, "-APITOKEN", "segreto"};
    arguments.insert(arguments.end(), extra.begin(), extra.end());
    std::map<std::string, std::string> environment = testing::ServerLoginEnvironment();
    environment["SSL_CERT_FILE"] = caFile_;
    environment["KORVANE_REGISTRY_URL"] = registryUrl;
    if (!trace.empty()) environment["KORVANE_TRACE"] = trace;
    environment.insert(more.begin(), more.end());
    return testing::RunProgram(program_, arguments, environment);
  }

  // Waits until the run's trace holds `text`: the run has reached that step. False after 30 s.
  static bool WaitForTraceStep(const std::string& trace, const std::string& text) {
    const auto giveUp = std::chrono::steady_clock::now() + std::chrono::seconds(30);
    for (;;) {
      std::ifstream in(trace, std::ios::binary);
      const std::string written((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
      if (written.find(text) != std::string::npos) return true;
      if (std::chrono::steady_clock::now() >= giveUp) return false;
      std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
  }

  // Through the server, which may hold the file open.
  std::string Sql(const std::string& statements) { return RunIsql(served_, statements); }
  Rows Customers() { return QueryColumn(served_, "SELECT CODICE FROM CLIENTI ORDER BY CODICE"); }

  // Starts `count` runs at once against a registry that answers none of them before all have
  // asked; returns their results in the order they were started.
  std::vector<ProgramResult> RunTogether(int count, double& seconds) {
    TlsGatedServer registry(Answer(), count);
    std::vector<ProgramResult> results(static_cast<std::size_t>(count));
    std::vector<std::thread> runs;
    const auto start = std::chrono::steady_clock::now();
    for (ProgramResult& result : results) {
      runs.emplace_back([&] { result = Run(registry.Url("/base/")); });
    }
    for (std::thread& run : runs) run.join();
    seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    EXPECT_EQ(registry.Requests(), count);
    return results;
  }

  testing::TempDir root_, data_;
  std::string program_ = root_.File("bin/korvane");
  std::string archive_ = data_.File("archivio.fdb");
  std::string served_ = "localhost:" + archive_;
  std::string caFile_ = root_.File("ca.pem");
};

TEST_F(ConcurrentImportTest, WhatCannotBeWrittenFailsBeforeTheRegistryIsAsked) {
  struct Case {
    std::string name, setting;
    std::vector<std::string> extra;
    std::string piva, out;
  };
  const std::string piva = "01234567890";
  const std::string tooLong = "Trying to store a string of length 21 into a field that can only contain 20\r\n";
  const Case cases[] = {
      {"negative width", "-1", {}, piva, "Larghezza codice soggetto non valida (CaratteriRiempimentoClienti = -1)\r\n"},
      {"width beyond the column",
       "2147483647",
       {},
       piva,
       "Trying to store a string of length 2147483647 into a field that can only contain 20\r\n"},
      {"code beyond the column", "", {"-CODICESOGGETTO", std::string(21, 'C')}, piva, tooLong},
      {"VAT number beyond the column", "", {}, std::string(21, '1'), tooLong},
  };
  for (const Case& c : cases) {
    Sql("DELETE FROM TABX;\n" + (c.setting.empty() ? std::string()
                                                   : "INSERT INTO TABX (NOME, TESTO) VALUES "
                                                     "('CaratteriRiempimentoClienti', '" +
                                                         c.setting + "');\n"));
    TlsTestServer registry({TlsTestServer::ExpectRequest(), TlsTestServer::Send(Answer())});
    const ProgramResult result = Run(registry.Url("/base/"), c.extra, c.piva);
    registry.Stop();
    EXPECT_EQ(result.out, c.out) << c.name;
    EXPECT_EQ(result.exitCode, 1) << c.name;
    EXPECT_EQ(registry.Request(), "") << c.name << ": the registry was asked";
  }
  EXPECT_EQ(Customers(), Rows{"0123"});
}

TEST_F(ConcurrentImportTest, ACodeTakenMeanwhileGivesWayToTheNextOne) {
  TlsGatedServer registry(Answer(), 2);
  ProgramResult result;
  std::thread run([&] { result = Run(registry.Url("/base/")); });
  // The run computed 0124 and waits for the registry: two other writers take 0124 and 0125.
  const bool asked = registry.WaitForRequests(1, 60000);
  if (asked) Sql("INSERT INTO CLIENTI (CODICE) VALUES ('0124');\nINSERT INTO CLIENTI (CODICE) VALUES ('0125');\n");
  registry.Open();
  run.join();
  ASSERT_TRUE(asked);
  EXPECT_EQ(result.out, "0126\r\n");
  EXPECT_EQ(result.exitCode, 0);
  EXPECT_EQ(registry.Requests(), 1);
  EXPECT_EQ(QueryColumn(served_, "SELECT CODICE || '|' || RAGSOC || '|' || INDIRIZZO FROM CLIENTI WHERE RAGSOC > ''"),
            Rows{"0126|Rossi S.p.A.|Via 4 Novembre"});
}

TEST_F(ConcurrentImportTest, ACodeHeldByAnInsertNotYetCommittedIsWaitedFor) {
  struct Case {
    bool commit;
    std::string out;
  };
  for (const Case& c : {Case{true, "0125\r\n"}, Case{false, "0124\r\n"}}) {
    Sql("DELETE FROM CLIENTI WHERE CODICE <> '0123';\n");
    ProgramResult result;
    std::jthread run;  // joined after the registry below has let every connection go
    TlsGatedServer registry(Answer(), 2);
    const std::string trace = root_.File("trace-" + std::to_string(c.commit) + ".log");
    run = std::jthread([&, url = registry.Url("/base/")] { result = Run(url, {}, "01234567890", trace); });
    ASSERT_TRUE(registry.WaitForRequests(1, 60000));
    // Another writer inserts the code the run computed and holds it while the run writes.
    OtherWriter other(served_, "INSERT INTO CLIENTI (CODICE) VALUES ('0124')");
    registry.Open();
    // Without the company's lock the run's insert does not wait on the key: it finds the code
    // taken and tries again until the other writer ends.
    ASSERT_TRUE(WaitForTraceStep(trace, "code taken: 0124"));
    c.commit ? other.Transaction().Commit() : other.Transaction().Rollback();
    run.join();
    EXPECT_EQ(result.out, c.out);
    EXPECT_EQ(result.exitCode, 0);
  }
}

// Refusals that trying again cannot clear end the run with the insert's failure, as ever.
TEST_F(ConcurrentImportTest, ARefusalThatDoesNotClearEndsTheRun) {
  struct Case {
    std::string name, sql, mention;
    Rows customers;
  };
  const Case cases[] = {
      // Width 2: after 99 the next code, 100, is cut to 10, which is taken; 10 comes again.
      {"the same stored code again",
       "DELETE FROM CLIENTI;\nINSERT INTO CLIENTI (CODICE) VALUES ('99');\nINSERT INTO CLIENTI (CODICE) VALUES "
       "('10');\n"
       "INSERT INTO TABX (NOME, TESTO) VALUES ('CaratteriRiempimentoClienti', '2');\n",
       "'10'", Rows{"10", "99"}},
      // Every insert into CLIENTI trips over a key of another table: the code is never stored,
      // and the run gives up after its tries.
      {"a key of another table",
       "DELETE FROM TABX;\nCREATE TABLE BLOCCO (K INTEGER NOT NULL PRIMARY KEY);\nCOMMIT;\nINSERT INTO BLOCCO VALUES "
       "(1);\n"
       "SET TERM ^ ;\nCREATE TRIGGER CLIENTI_BLOCCO FOR CLIENTI BEFORE INSERT AS BEGIN INSERT INTO BLOCCO VALUES (1); "
       "END^\nSET TERM ; ^\n",
       "BLOCCO", Rows{"10", "99"}},
  };
  for (const Case& c : cases) {
    Sql(c.sql);
    TlsGatedServer registry(Answer(), 1);
    const ProgramResult result = Run(registry.Url("/base/"));
    const std::string prefix = "Fallita scrittura su database\r";
    EXPECT_EQ(result.out.substr(0, prefix.size()), prefix) << c.name;
    EXPECT_NE(result.out.find(c.mention), std::string::npos) << result.out;
    EXPECT_EQ(result.exitCode, 1) << c.name;
    EXPECT_EQ(registry.Requests(), 1) << c.name;
    EXPECT_EQ(Customers(), c.customers) << c.name;
  }
}

TEST_F(ConcurrentImportTest, RunsAtTheSameTimeAllWriteTheirRow) {
  Rows printed;
  for (const int count : {10, 30}) {
    double seconds = 0;
    const std::vector<ProgramResult> results = RunTogether(count, seconds);
    for (const ProgramResult& result : results) {
      EXPECT_EQ(result.exitCode, 0) << result.out;
      EXPECT_EQ(result.err, "");
      ASSERT_TRUE(result.out.ends_with("\r\n")) << result.out;
      printed.push_back(result.out.substr(0, result.out.size() - 2));
    }
    std::sort(printed.begin(), printed.end());
    EXPECT_EQ(std::adjacent_find(printed.begin(), printed.end()), printed.end()) << "two runs printed the same code";
    // Every printed code is a new row with the registry's data, and there is no other new row.
    // The rows are read in the table's own order and sorted here: a walk along the key's index
    // while the server is still cleaning up after the runs once listed one row twice.
    Rows written = QueryColumn(served_, "SELECT CODICE FROM CLIENTI WHERE RAGSOC > ''");
    std::sort(written.begin(), written.end());
    EXPECT_EQ(written, printed);
    RecordProperty("seconds_for_" + std::to_string(count) + "_runs", std::to_string(seconds));
    std::printf("%d runs at once: %zu new rows in all, last batch %.2f s\n", count, printed.size(), seconds);
  }
}

// Runs at the same time for one VAT number, whose company reuses or refuses a number already
// stored: one row between them, and every run names it. On one machine they take turns before
// paying; the lock under which the number is looked up again once the answer is in hand is what
// keeps runs of several machines to one row.
TEST_F(ConcurrentImportTest, RunsForOneVatNumberWriteOneRowBetweenThem) {
  struct Case {
    std::string setting;
    int exitCodeOthers;
  };
  for (const Case& c : {Case{"Riusa", 0}, Case{"Rifiuta", 1}}) {
    Sql("DELETE FROM CLIENTI WHERE CODICE <> '0123';\nDELETE FROM TABX;\n"
        "INSERT INTO TABX (NOME, TESTO) VALUES ('PartitaIvaPresenteClienti', '" +
        c.setting + "');\n");
    // Each request is answered after a short delay; the gate is never reached.
    TlsGatedServer registry(Answer(), 1000, 300);
    std::vector<ProgramResult> results(5);
    std::vector<std::thread> runs;
    for (ProgramResult& result : results) runs.emplace_back([&] { result = Run(registry.Url("/base/")); });
    for (std::thread& run : runs) run.join();
    EXPECT_GE(registry.Requests(), 1) << c.setting;
    EXPECT_LE(registry.Requests(), 5) << c.setting;
    const Rows written = QueryColumn(served_, "SELECT CODICE FROM CLIENTI WHERE RAGSOC > ''");
    ASSERT_EQ(written.size(), 1u) << c.setting;
    const std::string code = written[0];
    const std::string refusal = "P.IVA 01234567890 presente in archivio (codice " + code + ")\r\n";
    int imported = 0;
    for (const ProgramResult& result : results) {
      if (result.out == code + "\r\n" && result.exitCode == 0) {
        ++imported;
      } else {
        EXPECT_EQ(result.out, c.setting == "Riusa" ? code + "\r\n" : refusal) << c.setting;
        EXPECT_EQ(result.exitCode, c.exitCodeOthers) << c.setting;
      }
    }
    EXPECT_EQ(imported, c.setting == "Riusa" ? 5 : 1) << c.setting;
  }
}

// A run that checked for its VAT number writes in the check's transaction: a code that another
// writer took meanwhile, committed or not yet, still gives way to the next one.
TEST_F(ConcurrentImportTest, AfterTheCheckATakenCodeStillGivesWayToTheNextOne) {
  struct Case {
    std::string name;
    bool committedFirst, commit;
    std::string out;
  };
  const Case cases[] = {
      {"committed before the insert", true, true, "0126\r\n"},
      {"held, then committed", false, true, "0125\r\n"},
      {"held, then rolled back", false, false, "0124\r\n"},
  };
  for (const Case& c : cases) {
    Sql("DELETE FROM CLIENTI WHERE CODICE <> '0123';\nDELETE FROM TABX;\n"
        "INSERT INTO TABX (NOME, TESTO) VALUES ('PartitaIvaPresenteClienti', 'Rifiuta');\n");
    ProgramResult result;
    std::jthread run;  // joined after the registry below has let every connection go
    TlsGatedServer registry(Answer(), 2);
    run = std::jthread([&, url = registry.Url("/base/")] { result = Run(url); });
    ASSERT_TRUE(registry.WaitForRequests(1, 60000)) << c.name;
    // The run computed 0124 and waits for the registry, holding no lock.
    OtherWriter other(served_, c.committedFirst ? "INSERT INTO CLIENTI (CODICE) SELECT '0124' FROM RDB$DATABASE "
                                                  "UNION ALL SELECT '0125' FROM RDB$DATABASE"
                                                : "INSERT INTO CLIENTI (CODICE) VALUES ('0124')");
    if (c.committedFirst) other.Transaction().Commit();
    registry.Open();
    if (!c.committedFirst) {
      // Under the company's lock the run's insert waits on the other writer's key.
      ASSERT_TRUE(testing::WaitForStatementOfAnother(other.Database(), "INSERT INTO CLIENTI")) << c.name;
      c.commit ? other.Transaction().Commit() : other.Transaction().Rollback();
    }
    run.join();
    EXPECT_EQ(result.out, c.out) << c.name;
    EXPECT_EQ(result.exitCode, 0) << c.name;
    EXPECT_EQ(registry.Requests(), 1) << c.name;
  }
}

// The company's lock is held only from the registry's answer to the commit: a run for another
// number goes through while a run whose registry takes its time waits for its answer.
TEST_F(ConcurrentImportTest, ARunForAnotherNumberDoesNotWaitForARegistryCall) {
  Sql("INSERT INTO TABX (NOME, TESTO) VALUES ('PartitaIvaPresenteClienti', 'Riusa');\n");
  ProgramResult slow;
  std::jthread slowRun;  // joined after the registry below has let every connection go
  TlsGatedServer slowRegistry(Answer(), 2);
  slowRun = std::jthread([&, url = slowRegistry.Url("/base/")] { slow = Run(url); });
  ASSERT_TRUE(slowRegistry.WaitForRequests(1, 60000));
  TlsTestServer registry({TlsTestServer::ExpectRequest(), TlsTestServer::Send(Answer()), TlsTestServer::Close()});
  const auto start = std::chrono::steady_clock::now();
  const ProgramResult quick = Run(registry.Url("/base/"), {}, "09876543210");
  const auto waited = std::chrono::steady_clock::now() - start;
  EXPECT_EQ(slowRegistry.Requests(), 1) << "the slow run's answer was let go";
  slowRegistry.Open();
  slowRun.join();
  EXPECT_EQ(quick.out, "0124\r\n");
  EXPECT_EQ(quick.exitCode, 0);
  // The slow run's answer is held until the quick run is over: waiting for it would never end.
  // The bound is one run's time on a loaded machine, with room.
  EXPECT_LT(waited, std::chrono::seconds(20));
  EXPECT_EQ(slow.out, "0125\r\n");
  EXPECT_EQ(slow.exitCode, 0);
}

// The number is looked up again under the lock once the answer is in hand: one stored meanwhile
// is the run's answer, as it would have been before the call.
TEST_F(ConcurrentImportTest, ANumberStoredDuringTheRegistryCallGetsTheCompanysAnswer) {
  struct Case {
    std::string setting, out;
    int exitCode;
  };
  const Case cases[] = {{"Riusa", "A9\r\n", 0},
                        {"Rifiuta", "P.IVA 01234567890 presente in archivio (codice A9)\r\n", 1}};
  for (const Case& c : cases) {
    Sql("DELETE FROM CLIENTI WHERE CODICE <> '0123';\nDELETE FROM TABX;\n"
        "INSERT INTO TABX (NOME, TESTO) VALUES ('PartitaIvaPresenteClienti', '" +
        c.setting + "');\n");
    ProgramResult result;
    std::jthread run;  // joined after the registry below has let every connection go
    TlsGatedServer registry(Answer(), 2);
    run = std::jthread([&, url = registry.Url("/base/")] { result = Run(url); });
    ASSERT_TRUE(registry.WaitForRequests(1, 60000)) << c.setting;
    Sql("INSERT INTO CLIENTI (CODICE, PI) VALUES ('A9', 'IT 01234567890');\n");
    registry.Open();
    run.join();
    EXPECT_EQ(result.out, c.out) << c.setting;
    EXPECT_EQ(result.exitCode, c.exitCode) << c.setting;
    EXPECT_EQ(Customers(), (Rows{"0123", "A9"})) << c.setting;
  }
}

// Another run (here the test) holds the company's lock longer than a run waits for it (the
// engine's lock timeout, about 10 s): the run ends with its own message, not the engine's
// "deadlock" text, and writes nothing.
TEST_F(ConcurrentImportTest, ALockHeldTooLongEndsTheRunWithItsOwnMessage) {
  Sql("INSERT INTO TABX (NOME, TESTO) VALUES ('PartitaIvaPresenteClienti', 'Rifiuta');\n");
  TIBDatabase other;
  OpenIBDatabaseFile(other, served_,
                     config::DatabaseLogin{.user = serverlogin::kUser, .password = serverlogin::Password()});
  TIBTransaction holder(&other);
  holder.Params() = config::LockingTransactionParams(std::chrono::seconds(1));
  holder.StartTransaction();
  config::LockSettingRows(other, holder, "PartitaIvaPresenteClienti");
  TlsTestServer registry({TlsTestServer::ExpectRequest(), TlsTestServer::Send(Answer()), TlsTestServer::Close()},
                         {.lifetimeMs = 60000});
  const auto start = std::chrono::steady_clock::now();
  const ProgramResult result = Run(registry.Url("/base/"));
  const auto waited = std::chrono::steady_clock::now() - start;
  holder.Rollback();
  EXPECT_EQ(result.out, "Archivio occupato da un'altra importazione (riprovare)\r\n");
  EXPECT_EQ(result.exitCode, 1);
  EXPECT_EQ(result.err, "");
  EXPECT_GE(waited, std::chrono::seconds(8));
  // The lock is tried before the request: nothing was paid.
  registry.Stop();
  EXPECT_EQ(registry.Request(), "");
  EXPECT_EQ(Customers(), Rows{"0123"});
}

// Thirty runs at once for one number, whose company reuses a stored number: they take turns
// before paying, so the first one's row answers all the others, and one request is sent.
TEST_F(ConcurrentImportTest, ThirtyRunsForOneNumberSendOneRequest) {
  Sql("INSERT INTO TABX (NOME, TESTO) VALUES ('PartitaIvaPresenteClienti', 'Riusa');\n");
  TlsGatedServer registry(Answer(), 1000, 300);
  std::vector<ProgramResult> results(30);
  std::vector<std::thread> runs;
  for (ProgramResult& result : results) runs.emplace_back([&] { result = Run(registry.Url("/base/")); });
  for (std::thread& run : runs) run.join();
  EXPECT_EQ(registry.Requests(), 1);
  for (const ProgramResult& result : results) {
    EXPECT_EQ(result.out, "0124\r\n");
    EXPECT_EQ(result.exitCode, 0);
  }
  EXPECT_EQ(Customers(), (Rows{"0123", "0124"}));
}

// Twenty runs at once under a daily limit of five: counted and recorded under one lock, exactly
// five requests leave; the others are refused before theirs.
TEST_F(ConcurrentImportTest, ADailyLimitHoldsForRunsAtOnce) {
  const std::string ledger = data_.File("richieste.tsv");
  const std::map<std::string, std::string> limit = {{"KORVANE_LEDGER", ledger}, {"KORVANE_DAILY_LIMIT", "5"}};
  TlsGatedServer registry(Answer(), 5);
  std::vector<ProgramResult> results(20);
  std::vector<std::thread> runs;
  for (ProgramResult& result : results) {
    runs.emplace_back([&] { result = Run(registry.Url("/base/"), {}, "01234567890", "", limit); });
  }
  for (std::thread& run : runs) run.join();
  EXPECT_EQ(registry.Requests(), 5);
  int imported = 0, refused = 0;
  for (const ProgramResult& result : results) {
    imported += result.exitCode == 0;
    refused += result.exitCode == 1 && result.out == "Limite giornaliero di richieste al registro raggiunto (5)\r\n";
  }
  EXPECT_EQ(imported, 5);
  EXPECT_EQ(refused, 15);
  std::ifstream in(ledger);
  int requests = 0;
  // The event is the second field (the first line names the columns, "richiesta" among them).
  for (std::string line; std::getline(in, line);) requests += line.find("\trichiesta\t") == 20;
  EXPECT_EQ(requests, 5);
  EXPECT_EQ(QueryColumn(served_, "SELECT COUNT(*) FROM CLIENTI WHERE RAGSOC > ''"), Rows{"5"});
}

}  // namespace
}  // namespace korvane
