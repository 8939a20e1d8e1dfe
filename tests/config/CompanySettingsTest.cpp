#include "config/CompanySettings.h"
#include "config/WriteLock.h"

#include <gtest/gtest.h>

#include <chrono>
#include <thread>

#include "config/QelDBUtility.h"
#include "config/TabX.h"
#include "db/IBDatabase.h"
#include "db/IBTransaction.h"
#include "support/EngineMonitor.h"
#include "support/ErrorOf.h"
#include "support/FirebirdFixture.h"
#include "support/TempDir.h"

namespace korvane::config {
namespace {

using testing::OutcomeOf;

constexpr SubjectSettingNames kCustomerSettingNames{"PartitaIvaPresenteClienti", "ImpresaCessataClienti"};
constexpr SubjectSettingNames kSupplierSettingNames{"PartitaIvaPresenteFornitori", "ImpresaCessataFornitori"};

std::string Row(const std::string& name, const std::string& value, const std::string& user = "NULL") {
  return "INSERT INTO TABX VALUES ('" + name + "', '" + value + "', " + user + ");\n";
}

// The settings as one line, for a table of cases.
std::string Text(const CompanySettings& settings) {
  const char* existing[] = {"import", "reuse", "refuse"};
  return std::string(existing[static_cast<int>(settings.existingVatNumber)]) +
         (settings.refuseCeasedCompany ? " ceased-refused" : "") + (settings.checkVatNumber ? " checked" : "");
}

class CompanySettingsTest : public ::testing::Test {
 protected:
  void SetUp() override { testing::CreateDatabase(archive_, testing::FixtureScript("archive.sql")); }

  std::string Read(const std::string& rows, const SubjectSettingNames& names = kCustomerSettingNames) {
    testing::RunIsql(archive_, "DELETE FROM TABX;\n" + rows);
    TIBDatabase archive;
    OpenIBDatabaseFile(archive, archive_);
    return OutcomeOf([&] { return Text(ReadCompanySettings(archive, names)); });
  }

  testing::TempDir dir_;
  std::string archive_ = dir_.File("archivio.fdb");
};

TEST_F(CompanySettingsTest, ValuesAndTheirDefaults) {
  const std::pair<std::string, std::string> cases[] = {
      {"", "import"},
      {Row("PartitaIvaPresenteClienti", "Riusa"), "reuse"},
      {Row("PartitaIvaPresenteClienti", " rIUSA  "), "reuse"},
      {Row("PartitaIvaPresenteClienti", "RIFIUTA"), "refuse"},
      {Row("PartitaIvaPresenteClienti", ""), "import"},
      {Row("PartitaIvaPresenteClienti", "   "), "import"},
      {"INSERT INTO TABX VALUES ('PartitaIvaPresenteClienti', NULL, NULL);\n", "import"},
      // read without a user filter: a user's row counts
      {Row("PartitaIvaPresenteClienti", "Rifiuta", "'17'"), "refuse"},
      {Row("ImpresaCessataClienti", "rifiuta"), "import ceased-refused"},
      {Row("ControlloPartitaIva", "Si"), "import checked"},
      {Row("ControlloPartitaIva", "SI "), "import checked"},
      {Row("ControlloPartitaIva", "No"), "import"},
      {Row("PartitaIvaPresenteClienti", "Riusa") + Row("ImpresaCessataClienti", "Rifiuta") +
           Row("ControlloPartitaIva", "si"),
       "reuse ceased-refused checked"},
      // a supplier's setting says nothing about customers
      {Row("PartitaIvaPresenteFornitori", "Rifiuta") + Row("ImpresaCessataFornitori", "Rifiuta"), "import"},
  };
  for (const auto& [rows, expected] : cases) EXPECT_EQ(Read(rows), expected) << rows;
  EXPECT_EQ(Read(Row("PartitaIvaPresenteFornitori", "Riusa") + Row("ImpresaCessataFornitori", "Rifiuta") +
                     Row("PartitaIvaPresenteClienti", "Rifiuta"),
                 kSupplierSettingNames),
            "reuse ceased-refused");
}

TEST_F(CompanySettingsTest, AnUnknownValueIsRefusedWithTheSettingNamed) {
  const std::pair<std::string, std::string> cases[] = {
      {Row("PartitaIvaPresenteClienti", " Riusare "), "(PartitaIvaPresenteClienti = Riusare)"},
      {"INSERT INTO TABX VALUES ('PartitaIvaPresenteClienti', 'S' || ASCII_CHAR(236), NULL);\n",
       "(PartitaIvaPresenteClienti = Sì)"},
      {Row("PartitaIvaPresenteClienti", "Ri usa"), "(PartitaIvaPresenteClienti = Ri usa)"},
      {Row("ImpresaCessataClienti", "Riusa"), "(ImpresaCessataClienti = Riusa)"},
      {Row("ImpresaCessataClienti", "Si"), "(ImpresaCessataClienti = Si)"},
      {Row("ControlloPartitaIva", "Rifiuta"), "(ControlloPartitaIva = Rifiuta)"},
      {Row("ControlloPartitaIva", "1"), "(ControlloPartitaIva = 1)"},
      {"INSERT INTO TABX VALUES ('ControlloPartitaIva', 'S' || ASCII_CHAR(10) || 'i', NULL);\n",
       "(ControlloPartitaIva = S?i)"},
      // checked in order: the first bad one is named
      {Row("ControlloPartitaIva", "Forse") + Row("PartitaIvaPresenteClienti", "Forse"),
       "(PartitaIvaPresenteClienti = Forse)"},
  };
  for (const auto& [rows, expected] : cases) {
    EXPECT_EQ(Read(rows), "error: Impostazione non valida " + expected) << rows;
  }
  // The other kind's setting is not read, so its value cannot fail a run.
  EXPECT_EQ(Read(Row("PartitaIvaPresenteFornitori", "Forse")), "import");
}

// Two connections of one process to an embedded database: the first takes the lock, the
// second waits for it, the engine counting the wait (each transaction's lock timeout, 2 s).
class SettingLockTest : public CompanySettingsTest {
 protected:
  void SetUp() override {
    CompanySettingsTest::SetUp();
    testing::RunIsql(archive_, Row("PartitaIvaPresenteClienti", "Riusa") +
                                   Row("PartitaIvaPresenteClienti", "Riusa", "'3'") +
                                   Row("PartitaIvaPresenteFornitori", "Riusa"));
    OpenIBDatabaseFile(first_, archive_);
    OpenIBDatabaseFile(second_, archive_);
    OpenIBDatabaseFile(monitor_, archive_);
    held_.Params() = LockingTransactionParams(std::chrono::seconds(2));
    waiting_.Params() = LockingTransactionParams(std::chrono::seconds(2));
    held_.StartTransaction();
    LockSettingRows(first_, held_, "PartitaIvaPresenteClienti");
    waiting_.StartTransaction();
  }

  TIBDatabase first_, second_, monitor_;
  TIBTransaction held_{&first_}, waiting_{&second_};
};

TEST_F(SettingLockTest, ALockHeldElsewhereIsWaitedForWithinTheLockTimeout) {
  // A wait that runs out ends with the run's own message, not the engine's "deadlock" text.
  const auto start = std::chrono::steady_clock::now();
  const std::string error = testing::ErrorOf([&] { LockSettingRows(second_, waiting_, "PartitaIvaPresenteClienti"); });
  // The engine counts the timeout in whole seconds from its own clock ticks: between 1 and 2 s.
  EXPECT_GE(std::chrono::steady_clock::now() - start, std::chrono::milliseconds(950));
  EXPECT_EQ(error, kArchiveBusyMessage);
  // Another setting's rows are free (a wait would end in the error above); readers never wait.
  EXPECT_EQ(testing::ErrorOf([&] { LockSettingRows(second_, waiting_, "PartitaIvaPresenteFornitori"); }), "");
  EXPECT_EQ(GetTabXValue(second_, "PartitaIvaPresenteClienti", -1), "Riusa");

  // The holder ends its transaction either way once the waiter waits; the waiter holds the lock
  // as soon as it does, and the roles swap.
  TIBDatabase* holderDatabase = &first_;
  TIBDatabase* waiterDatabase = &second_;
  TIBTransaction* holder = &held_;
  TIBTransaction* waiter = &waiting_;
  for (const bool commit : {true, false}) {
    bool waited = false;
    std::thread ending([&] {
      waited = testing::WaitForStatementOfAnother(monitor_, "SELECT NOME FROM TABX");
      commit ? holder->Commit() : holder->Rollback();
    });
    // The lock comes before the waiter's lock timeout, which would end in the busy error.
    const std::string error =
        testing::ErrorOf([&] { LockSettingRows(*waiterDatabase, *waiter, "PartitaIvaPresenteClienti"); });
    ending.join();
    EXPECT_TRUE(waited) << commit;
    EXPECT_EQ(error, "") << commit;
    std::swap(holder, waiter);
    std::swap(holderDatabase, waiterDatabase);
    waiter->StartTransaction();
    EXPECT_EQ(testing::ErrorOf([&] { LockSettingRows(*waiterDatabase, *waiter, "PartitaIvaPresenteClienti"); }),
              kArchiveBusyMessage)
        << commit;
  }
  waiting_.Rollback();
  held_.Rollback();
  // The lock changed no stored value.
  first_.Close();
  second_.Close();
  monitor_.Close();
  EXPECT_EQ(testing::QueryColumn(archive_, "SELECT NOME || '=' || TESTO || '/' || COALESCE(UTENTE, '-') FROM TABX"),
            (std::vector<std::string>{"PartitaIvaPresenteClienti=Riusa/-", "PartitaIvaPresenteClienti=Riusa/3",
                                      "PartitaIvaPresenteFornitori=Riusa/-"}));
}

}  // namespace
}  // namespace korvane::config
