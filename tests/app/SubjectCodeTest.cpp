#include "app/subject/SubjectCode.h"

#include <gtest/gtest.h>

#include <optional>
#include <tuple>

#include "app/inputs/Parametri.h"
#include "config/QelDBUtility.h"
#include "db/IBDatabase.h"
#include "db/IBSQL.h"
#include "db/IBTransaction.h"
#include "support/ErrorOf.h"
#include "support/FirebirdFixture.h"
#include "support/TempDir.h"

namespace korvane {
namespace {

using testing::CreateDatabase;
using testing::ErrorOf;
using testing::FixtureScript;
using testing::RunIsql;

TParametri Parametri(const std::string& tipo, const std::string& codiceSoggetto = "") {
  std::vector<std::string> arguments{"-UTENTE",   "1", "-DITTA",        "01", "-PIVA", "1",
                                     "-APITOKEN", "t", "-TIPOSOGGETTO", tipo};
  if (!codiceSoggetto.empty()) {
    arguments.push_back("-CODICESOGGETTO");
    arguments.push_back(codiceSoggetto);
  }
  TParametri parametri(arguments);
  parametri.ReadFromCmdLine();
  return parametri;
}

std::string Insert(const std::string& table, const std::vector<std::string>& codes) {
  std::string sql;
  for (const auto& code : codes) sql += "INSERT INTO " + table + " (CODICE) VALUES ('" + code + "');\n";
  return sql;
}

std::string Setting(const std::string& name, const std::string& value) {
  return "INSERT INTO TABX (NOME, TESTO) VALUES ('" + name + "', '" + value + "');\n";
}

struct Allocation {
  std::string codice;
  std::string caratteri;
};

// Runs the allocation on a fresh archive seeded with `sql`.
Allocation Allocate(const std::string& sql, const TParametri& parametri, const std::string& script = "archive.sql",
                    std::optional<std::int32_t> lunghezzaCodice = std::nullopt) {
  testing::TempDir dir;
  const std::string path = dir.File("archivio.fdb");
  CreateDatabase(path, FixtureScript(script));
  if (!sql.empty()) RunIsql(path, sql);
  TIBDatabase database;
  OpenIBDatabaseFile(database, path);
  const SubjectCode code =
      SettleSubjectCode(parametri.TipoSoggetto(), parametri.CodiceSoggetto(), database, lunghezzaCodice);
  return {code.Codice, code.CaratteriRiempimento};
}

TEST(SettleSubjectCode, ComputesTheNextNumericCode) {
  const std::string clienti = "CaratteriRiempimentoClienti";
  struct Case {
    std::string name, sql, codice;
  };
  const Case cases[] = {
      {"mixed codes", Insert("CLIENTI", {"0001", "0002", "A100", "0123"}), "0124"},
      {"empty table", "", "0001"},
      {"no code of digits only", Insert("CLIENTI", {"A1", "12 ", "-5", "1.5"}), "0001"},
      {"width 6", Insert("CLIENTI", {"123"}) + Setting(clienti, "6"), "000124"},
      {"width 2 cuts", Insert("CLIENTI", {"123"}) + Setting(clienti, "2"), "12"},
      {"width 0", Insert("CLIENTI", {"123"}) + Setting(clienti, "0"), "0124"},
      {"empty setting", Insert("CLIENTI", {"123"}) + Setting(clienti, ""), "0124"},
      {"blank setting", Insert("CLIENTI", {"123"}) + Setting(clienti, " "), "0124"},
      {"not a number", Insert("CLIENTI", {"123"}) + Setting(clienti, "abc"), "0124"},
      {"leading blanks and hex", Insert("CLIENTI", {"123"}) + Setting(clienti, " $6"), "000124"},
      {"9999 grows and is cut", Insert("CLIENTI", {"9999"}), "1000"},
      {"largest integer", Insert("CLIENTI", {"2147483647"}) + Setting(clienti, "12"), "002147483648"},
      // Codes that no 32-bit or numeric reading can take never block the numbering.
      {"empty code", Insert("CLIENTI", {"", "0041"}), "0042"},
      {"letters", Insert("CLIENTI", {"ABC", "0041"}), "0042"},
      {"beyond 32 bits", Insert("CLIENTI", {"3000000000", "0041"}) + Setting(clienti, "10"), "3000000001"},
      {"19 digits do not count", Insert("CLIENTI", {"1000000000000000000", "0041"}), "0042"},
      {"18 digits", Insert("CLIENTI", {"999999999999999999", "7"}) + Setting(clienti, "19"), "1000000000000000000"},
      {"leading zeros", Insert("CLIENTI", {"000000000000000099", "98"}), "0100"},
      {"supplier setting is not read", Setting("CaratteriRiempimentoFornitori", "8"), "0001"},
  };
  for (const auto& c : cases) EXPECT_EQ(Allocate(c.sql, Parametri("C")).codice, c.codice) << c.name;
}

TEST(SettleSubjectCode, ADialect1ArchiveCountsLongCodesToo) {
  testing::TempDir dir;
  const std::string path = dir.File("archivio.fdb");
  CreateDatabase(path, FixtureScript("archive.sql"), 1);
  RunIsql(path,
          Insert("CLIENTI", {"999999999999999998", "3000000000", ""}) + Setting("CaratteriRiempimentoClienti", "18"));
  TIBDatabase database;
  OpenIBDatabaseFile(database, path);
  EXPECT_EQ(SettleSubjectCode(TTipoSoggetto::tsCliente, "", database).Codice, "999999999999999999");
  const NextCode afterStored = NextFreeCode(database, TTipoSoggetto::tsCliente, 18, "3000000000");
  EXPECT_EQ(afterStored.code, "999999999999999999");
  EXPECT_TRUE(afterStored.takenIsStored);
  EXPECT_FALSE(NextFreeCode(database, TTipoSoggetto::tsCliente, 18, "999999999999999999").takenIsStored);
}

TEST(SettleSubjectCode, ANegativeWidthIsRefused) {
  const std::string sql = Insert("CLIENTI", {"123"}) + Setting("CaratteriRiempimentoClienti", "-1") +
                          Setting("CaratteriRiempimentoFornitori", " -7");
  EXPECT_EQ(ErrorOf([&] { Allocate(sql, Parametri("C")); }),
            "Larghezza codice soggetto non valida (CaratteriRiempimentoClienti = -1)");
  EXPECT_EQ(ErrorOf([&] { Allocate(sql, Parametri("F")); }),
            "Larghezza codice soggetto non valida (CaratteriRiempimentoFornitori = -7)");
}

TEST(SettleSubjectCode, ACodeOrWidthBeyondTheColumnFails) {
  const std::string clienti = "CaratteriRiempimentoClienti";
  EXPECT_EQ(Allocate(Setting(clienti, "20"), Parametri("C"), "archive.sql", 20).codice, std::string(19, '0') + "1");
  EXPECT_EQ(ErrorOf([&] { Allocate(Setting(clienti, "21"), Parametri("C"), "archive.sql", 20); }),
            "Trying to store a string of length 21 into a field that can only contain 20");
  // Refused before a text of that many characters is built.
  EXPECT_EQ(ErrorOf([&] { Allocate(Setting(clienti, "2147483647"), Parametri("C"), "archive.sql", 20); }),
            "Trying to store a string of length 2147483647 into a field that can only contain 20");
  EXPECT_EQ(Allocate("", Parametri("C", std::string(20, 'C')), "archive.sql", 20).codice, std::string(20, 'C'));
  EXPECT_EQ(ErrorOf([&] { Allocate("", Parametri("C", std::string(20, 'C') + "\u00e8"), "archive.sql", 20); }),
            "Trying to store a string of length 21 into a field that can only contain 20");
}

TEST(SettleSubjectCode, KeepsTheSettingAsRead) {
  EXPECT_EQ(Allocate(Setting("CaratteriRiempimentoClienti", " 6"), Parametri("C")).caratteri, " 6");
  EXPECT_EQ(Allocate("", Parametri("C")).caratteri, "");
}

TEST(SettleSubjectCode, SupplierReadsItsOwnTableAndSetting) {
  const std::string sql = Insert("CLIENTI", {"0500"}) + Insert("FORNITO", {"0007"}) +
                          Setting("CaratteriRiempimentoClienti", "6") + Setting("CaratteriRiempimentoFornitori", "3");
  const Allocation supplier = Allocate(sql, Parametri("F"));
  EXPECT_EQ(supplier.codice, "008");
  EXPECT_EQ(supplier.caratteri, "3");
  EXPECT_EQ(Allocate(sql, Parametri("C")).codice, "000501");
}

TEST(SettleSubjectCode, AGivenCodeReadsNothing) {
  // A database without the archive's tables would fail any read.
  const Allocation given = Allocate("", Parametri("C", "C77"), "users.sql");
  EXPECT_EQ(given.codice, "C77");
  EXPECT_EQ(given.caratteri, "");
}

TEST(SettleSubjectCode, WithoutSettingsTableTheRunStops) {
  EXPECT_THROW(Allocate("", Parametri("C"), "users.sql"), Exception);
}

// After a lost commit the run looks for its own row: one with its code and number written by
// its own transaction, not another run's with the same code and number.
TEST(CheckGivenCodeFree, AGivenCodeAlreadyStoredIsRefused) {
  testing::TempDir dir;
  const std::string path = dir.File("archivio.fdb");
  CreateDatabase(path, FixtureScript("archive.sql"));
  RunIsql(path, Insert("CLIENTI", {"C77", "it''s"}) + Insert("FORNITO", {"F1"}));
  TIBDatabase database;
  OpenIBDatabaseFile(database, path);
  const std::tuple<TTipoSoggetto, std::string, std::string> cases[] = {
      {TTipoSoggetto::tsCliente, "C77", "Codice soggetto C77 già presente in archivio"},
      {TTipoSoggetto::tsCliente, "C77 ", "Codice soggetto C77  già presente in archivio"},  // as the key compares
      {TTipoSoggetto::tsCliente, "it's", "Codice soggetto it's già presente in archivio"},
      {TTipoSoggetto::tsCliente, "c77", ""},
      {TTipoSoggetto::tsCliente, "C78", ""},
      {TTipoSoggetto::tsCliente, "F1", ""},
      {TTipoSoggetto::tsFornitore, "F1", "Codice soggetto F1 già presente in archivio"},
      {TTipoSoggetto::tsFornitore, "C77", ""},
  };
  for (const auto& [tipo, code, outcome] : cases) {
    EXPECT_EQ(ErrorOf([&] { CheckGivenCodeFree(database, tipo, code); }), outcome) << code;
  }
}

TEST(KnownHighestCode, OnlyAHigherNumericCodeWrittenRaisesAKnownHighest) {
  KnownHighestCode unread;
  unread.Written("0500");
  EXPECT_EQ(unread.Value(), std::nullopt);  // the table's highest is still to be read

  const std::pair<const char*, const char*> cases[] = {
      {"0125", "0125"}, {"0099", "0124"}, {"C125", "0124"},
      {"", "0124"},     {"125", "125"},   {"1234567890123456789", "0124"},  // 19 digits are not numbered
  };
  for (const auto& [written, highest] : cases) {
    KnownHighestCode known;
    known.Read("0124");
    known.Written(written);
    EXPECT_EQ(known.Value(), highest) << written;
  }
}

TEST(SubjectStored, TellsTheRowOfOneTransactionFromAnother) {
  for (const int dialect : {3, 1}) {
    testing::TempDir dir;
    const std::string path = dir.File("archivio.fdb");
    CreateDatabase(path, FixtureScript("archive.sql"), dialect);
    TIBDatabase database;
    OpenIBDatabaseFile(database, path);
    TIBSQL insert(&database);
    TIBTransaction& transaction =
        insert.OwnTransaction(std::make_unique<TIBTransaction>(&database, TIBTransactionLevel::ibtrSnapshot));
    insert.AddLine("INSERT INTO CLIENTI (CODICE, PI) VALUES ('0124', '01234567890')");
    transaction.StartTransaction();
    const std::int64_t writer = transaction.Id();
    EXPECT_GT(writer, 0) << dialect;
    insert.ExecQuery();
    transaction.Commit();
    EXPECT_TRUE(SubjectStored(database, TTipoSoggetto::tsCliente, "0124", "01234567890", writer)) << dialect;
    EXPECT_TRUE(SubjectStored(database, TTipoSoggetto::tsCliente, "0124", "01234567890")) << dialect;
    EXPECT_FALSE(SubjectStored(database, TTipoSoggetto::tsCliente, "0124", "01234567890", writer + 1)) << dialect;
    EXPECT_FALSE(SubjectStored(database, TTipoSoggetto::tsCliente, "0125", "01234567890", writer)) << dialect;
  }
}

}  // namespace
}  // namespace korvane
