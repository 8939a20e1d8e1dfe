// The refresh's kept comparisons: a store of the first version brought up with its rows intact,
// a comparison replaced by the next one of the same subject, an absent value told from an empty
// one, the mark of an apply that holds only for the comparison it applied, and a comparison
// forgotten.
#include <gtest/gtest.h>
#include <sqlite3.h>
#include <sys/stat.h>

#include "store/AnswerStore.h"
#include "support/TempDir.h"

namespace korvane::store {
namespace {

using testing::TempDir;

// The tables of the first version, as a store written by an earlier korvane holds them.
constexpr const char* kFirstVersion =
    "CREATE TABLE answers (id INTEGER PRIMARY KEY, vat_number TEXT NOT NULL, endpoint TEXT NOT NULL,"
    "  received_unix INTEGER NOT NULL, body BLOB NOT NULL, ledger_key TEXT NOT NULL);"
    "CREATE INDEX answers_by_number ON answers (vat_number, received_unix);"
    "CREATE TABLE lists (id INTEGER PRIMARY KEY, key TEXT NOT NULL UNIQUE, created_unix INTEGER NOT NULL);"
    "CREATE TABLE list_rows (list_id INTEGER NOT NULL REFERENCES lists (id), line INTEGER NOT NULL,"
    "  value TEXT NOT NULL, vat_number TEXT NOT NULL, state TEXT NOT NULL, code TEXT NOT NULL,"
    "  message TEXT NOT NULL, paid INTEGER NOT NULL, answer_id INTEGER REFERENCES answers (id),"
    "  updated_unix INTEGER NOT NULL, PRIMARY KEY (list_id, line));"
    "CREATE TABLE written_subjects (id INTEGER PRIMARY KEY, company TEXT NOT NULL, archive TEXT NOT NULL,"
    "  kind TEXT NOT NULL, code TEXT NOT NULL, vat_number TEXT NOT NULL, written_unix INTEGER NOT NULL);"
    "CREATE INDEX written_by_code ON written_subjects (company, archive, kind, code);"
    "CREATE TABLE written_values (subject_id INTEGER NOT NULL REFERENCES written_subjects (id),"
    "  field TEXT NOT NULL, value TEXT NOT NULL, PRIMARY KEY (subject_id, field));"
    "INSERT INTO answers VALUES (1, '12485671007', 'host/base/12485671007', 100, '{}', '1-1');"
    "INSERT INTO written_subjects VALUES (1, 'D1', '/srv/a.fdb', 'C', 'C1', '12485671007', 100);"
    "INSERT INTO written_values VALUES (1, 'RAGSOC', 'Rossi');"
    "PRAGMA user_version = 1;";

KeptComparison Comparison(std::int64_t comparedUnix, std::vector<KeptField> fields) {
  return {"D1", "/srv/a.fdb", 'C', "C1", "12485671007", comparedUnix, "cessata", true, std::move(fields), std::nullopt};
}

TEST(KeptComparison, AFirstVersionStoreIsBroughtUpWithItsRowsIntact) {
  TempDir folder;
  const std::string path = folder.File("risposte.sqlite");
  {
    sqlite3* database = nullptr;
    ASSERT_EQ(sqlite3_open(path.c_str(), &database), SQLITE_OK);
    ASSERT_EQ(sqlite3_exec(database, kFirstVersion, nullptr, nullptr, nullptr), SQLITE_OK) << sqlite3_errmsg(database);
    sqlite3_close(database);
    ::chmod(path.c_str(), 0600);
  }
  {
    AnswerStore store(path);
    EXPECT_EQ(store.SchemaVersion(), 2);
    EXPECT_EQ(store.Answer(1)->ledgerKey, "1-1");
    EXPECT_EQ(store.LastWritten("D1", "/srv/a.fdb", 'C', "C1")->values.at(0).second, "Rossi");
    EXPECT_FALSE(store.LastComparison("D1", "/srv/a.fdb", 'C', "C1"));
    store.KeepComparison(Comparison(200, {{"CAP", "", "20121", std::nullopt, "compilato"}}));
  }
  AnswerStore again(path);  // opened again: the second version is not applied twice
  EXPECT_EQ(again.SchemaVersion(), 2);
  EXPECT_EQ(again.LastComparison("D1", "/srv/a.fdb", 'C', "C1")->fields.at(0).registry, "20121");
}

TEST(KeptComparison, TheLastOneOfASubjectIsKeptAndMarkedAppliedOnlyItself) {
  TempDir folder;
  AnswerStore store(folder.File("risposte.sqlite"));
  store.KeepComparison(Comparison(100, {{"RAGSOC", "Rossi", "ROSSI", "Rossi", "aggiornato"}}));
  const std::vector<KeptField> fields{{"RAGSOC", "Rossi", "ROSSI SPA", "", "aggiornato"},
                                      {"PEC", "a@pec.it", std::nullopt, std::nullopt, "non svuotato"}};
  store.KeepComparison(Comparison(200, fields));
  KeptComparison other = Comparison(300, {});
  other.kind = 'F';
  store.KeepComparison(other);

  const auto kept = store.LastComparison("D1", "/srv/a.fdb", 'C', "C1");
  ASSERT_TRUE(kept);
  EXPECT_EQ(kept->comparedUnix, 200);
  EXPECT_EQ(kept->activity, "cessata");
  EXPECT_TRUE(kept->recipientPairInconsistent);
  ASSERT_EQ(kept->fields.size(), 2u);
  EXPECT_EQ(kept->fields[0].base, "");  // an empty base is not an absent one
  EXPECT_EQ(kept->fields[0].registry, "ROSSI SPA");
  EXPECT_FALSE(kept->fields[1].registry);
  EXPECT_FALSE(kept->fields[1].base);
  EXPECT_EQ(kept->fields[1].action, "non svuotato");
  EXPECT_FALSE(kept->appliedUnix);

  store.MarkComparisonApplied(Comparison(100, {}), 400);  // an older comparison's apply
  EXPECT_FALSE(store.LastComparison("D1", "/srv/a.fdb", 'C', "C1")->appliedUnix);
  store.MarkComparisonApplied(*kept, 500);
  EXPECT_EQ(store.LastComparison("D1", "/srv/a.fdb", 'C', "C1")->appliedUnix, 500);
  EXPECT_FALSE(store.LastComparison("D1", "/srv/a.fdb", 'F', "C1")->appliedUnix);
  EXPECT_FALSE(store.LastComparison("D2", "/srv/a.fdb", 'C', "C1"));

  store.DropComparison("D1", "/srv/a.fdb", 'C', "C1");
  EXPECT_FALSE(store.LastComparison("D1", "/srv/a.fdb", 'C', "C1"));
  EXPECT_TRUE(store.LastComparison("D1", "/srv/a.fdb", 'F', "C1"));
}

}  // namespace
}  // namespace korvane::store
