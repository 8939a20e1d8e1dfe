#include "store/AnswerStore.h"

#include <sqlite3.h>
#include <sys/stat.h>
#include <unistd.h>

#include <functional>
#include <thread>

#include "platform/Exception.h"
#include "platform/OwnFile.h"
#include "store/StoreStatement.h"

namespace korvane::store {

namespace {

[[noreturn]] void RaiseUnusable(const std::string& path, std::string_view reason) {
  throw Exception("Archivio delle risposte non utilizzabile (" + path + ": " + std::string(reason) + ")");
}

// The tables of each version, applied in turn from the store's version to ours.
constexpr const char* kSchemaSteps[] = {
    // 1
    "CREATE TABLE answers ("
    "  id INTEGER PRIMARY KEY, vat_number TEXT NOT NULL, endpoint TEXT NOT NULL,"
    "  received_unix INTEGER NOT NULL, body BLOB NOT NULL, ledger_key TEXT NOT NULL);"
    "CREATE INDEX answers_by_number ON answers (vat_number, received_unix);"
    "CREATE TABLE lists ("
    "  id INTEGER PRIMARY KEY, key TEXT NOT NULL UNIQUE, created_unix INTEGER NOT NULL);"
    "CREATE TABLE list_rows ("
    "  list_id INTEGER NOT NULL REFERENCES lists (id), line INTEGER NOT NULL, value TEXT NOT NULL,"
    "  vat_number TEXT NOT NULL, state TEXT NOT NULL, code TEXT NOT NULL, message TEXT NOT NULL,"
    "  paid INTEGER NOT NULL, answer_id INTEGER REFERENCES answers (id), updated_unix INTEGER NOT NULL,"
    "  PRIMARY KEY (list_id, line));"
    "CREATE TABLE written_subjects ("
    "  id INTEGER PRIMARY KEY, company TEXT NOT NULL, archive TEXT NOT NULL, kind TEXT NOT NULL,"
    "  code TEXT NOT NULL, vat_number TEXT NOT NULL, written_unix INTEGER NOT NULL);"
    "CREATE INDEX written_by_code ON written_subjects (company, archive, kind, code);"
    "CREATE TABLE written_values ("
    "  subject_id INTEGER NOT NULL REFERENCES written_subjects (id), field TEXT NOT NULL,"
    "  value TEXT NOT NULL, PRIMARY KEY (subject_id, field));",
    // 2: the last comparison of each subject a refresh compared, replayed by its apply
    "CREATE TABLE comparisons ("
    "  id INTEGER PRIMARY KEY, company TEXT NOT NULL, archive TEXT NOT NULL, kind TEXT NOT NULL,"
    "  code TEXT NOT NULL, vat_number TEXT NOT NULL, compared_unix INTEGER NOT NULL, activity TEXT NOT NULL,"
    "  pair_inconsistent INTEGER NOT NULL, applied_unix INTEGER, UNIQUE (company, archive, kind, code));"
    "CREATE TABLE comparison_fields ("
    "  comparison_id INTEGER NOT NULL REFERENCES comparisons (id) ON DELETE CASCADE, position INTEGER NOT NULL,"
    "  field TEXT NOT NULL, archive_value TEXT NOT NULL, registry_value TEXT, base_value TEXT,"
    "  action TEXT NOT NULL, PRIMARY KEY (comparison_id, position));",
};
static_assert(std::size(kSchemaSteps) == kStoreSchemaVersion);

// The file must be one the run may write as its own; created here when missing (mode 0600), so
// that SQLite never creates it with the process's umask. Returns its device and inode.
std::pair<dev_t, ino_t> CheckOwnFile(const std::string& path) {
  std::string refused;
  const int file = platform::OpenOwnFile(path.c_str(), platform::OwnFileAccess::ReadAndAppend, refused);
  if (file < 0) RaiseUnusable(path, refused);
  struct stat info {};
  const bool known = ::fstat(file, &info) == 0;
  // Closed before SQLite opens it: closing a second descriptor of the file later would drop
  // SQLite's own locks on it.
  ::close(file);
  if (!known) RaiseUnusable(path, "stat");
  return {info.st_dev, info.st_ino};
}

}  // namespace

AnswerStore::AnswerStore(const std::string& path) : path_(path) {
  if (path.empty()) RaiseUnusable(path, "nessun percorso");
  const auto [device, inode] = CheckOwnFile(path);
  const int opened = sqlite3_open_v2(path.c_str(), &database_,
                                     SQLITE_OPEN_READWRITE | SQLITE_OPEN_NOFOLLOW | SQLITE_OPEN_FULLMUTEX, nullptr);
  if (opened != SQLITE_OK) {
    const std::string reason = database_ ? sqlite3_errmsg(database_) : sqlite3_errstr(opened);
    sqlite3_close(database_);
    database_ = nullptr;
    RaiseUnusable(path, reason);
  }
  try {
    // The name must still be the file that was checked.
    struct stat now {};
    if (::lstat(path.c_str(), &now) != 0 || now.st_dev != device || now.st_ino != inode) {
      RaiseUnusable(path, "file sostituito durante l'apertura");
    }
    sqlite3_extended_result_codes(database_, 1);
    sqlite3_busy_timeout(database_, static_cast<int>(kStoreBusyWait.count()));
    // Switching a new store to WAL, or reading it while another run does, may answer "locked"
    // without waiting for the busy handler: tried again within the same wait.
    const auto deadline = std::chrono::steady_clock::now() + kStoreBusyWait;
    for (;;) {
      try {
        Execute("PRAGMA journal_mode = WAL");
        Execute("PRAGMA synchronous = FULL");
        Execute("PRAGMA foreign_keys = ON");
        BringSchemaUp();
        break;
      } catch (const Exception&) {
        if ((sqlite3_errcode(database_) & 0xff) != SQLITE_BUSY || std::chrono::steady_clock::now() >= deadline) throw;
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
      }
    }
  } catch (...) {
    sqlite3_close(database_);
    database_ = nullptr;
    throw;
  }
}

AnswerStore::~AnswerStore() { sqlite3_close(database_); }

void AnswerStore::InWriteTransaction(const std::function<void()>& writes) {
  Execute("BEGIN IMMEDIATE");
  try {
    writes();
    Execute("COMMIT");
  } catch (...) {
    sqlite3_exec(database_, "ROLLBACK", nullptr, nullptr, nullptr);
    throw;
  }
}

void AnswerStore::Execute(std::string_view sql) {
  StoreStatement statement(database_, sql);
  statement.Run();
}

int AnswerStore::SchemaVersion() const {
  StoreStatement statement(database_, "PRAGMA user_version");
  statement.Step();
  return static_cast<int>(statement.Number(0));
}

void AnswerStore::BringSchemaUp() {
  // Under the write lock, so that two runs opening a new store do not both create its tables.
  Execute("BEGIN IMMEDIATE");
  try {
    const int version = SchemaVersion();
    if (version > kStoreSchemaVersion) {
      RaiseUnusable(path_, "versione " + std::to_string(version) + " più recente di questo programma");
    }
    for (int step = version; step < kStoreSchemaVersion; ++step) {
      if (sqlite3_exec(database_, kSchemaSteps[step], nullptr, nullptr, nullptr) != SQLITE_OK) {
        RaiseStoreError(database_, "tabelle");
      }
    }
    if (version != kStoreSchemaVersion) Execute("PRAGMA user_version = " + std::to_string(kStoreSchemaVersion));
    Execute("COMMIT");
  } catch (...) {
    sqlite3_exec(database_, "ROLLBACK", nullptr, nullptr, nullptr);
    throw;
  }
}

std::int64_t AnswerStore::SaveAnswer(const StoredAnswer& answer) {
  StoreStatement statement(database_,
                           "INSERT INTO answers (vat_number, endpoint, received_unix, body, ledger_key)"
                           " VALUES (?, ?, ?, ?, ?)");
  statement.Bind(1, answer.vatNumber).Bind(2, answer.endpoint).Bind(3, answer.receivedUnix);
  statement.BindBlob(4, answer.body).Bind(5, answer.ledgerKey).Run();
  return sqlite3_last_insert_rowid(database_);
}

namespace {

constexpr const char* kAnswerColumns = "SELECT id, vat_number, endpoint, received_unix, body, ledger_key FROM answers ";

std::optional<StoredAnswer> ReadAnswer(StoreStatement& statement) {
  if (!statement.Step()) return std::nullopt;
  return StoredAnswer{statement.Number(0), statement.Text(1), statement.Text(2),
                      statement.Number(3), statement.Text(4), statement.Text(5)};
}

}  // namespace

std::optional<StoredAnswer> AnswerStore::Answer(std::int64_t id) const {
  StoreStatement statement(database_, std::string(kAnswerColumns) + "WHERE id = ?");
  statement.Bind(1, id);
  return ReadAnswer(statement);
}

std::optional<StoredAnswer> AnswerStore::LatestAnswer(std::string_view vatNumber, std::int64_t notBeforeUnix) const {
  StoreStatement statement(database_, std::string(kAnswerColumns) +
                                          "WHERE vat_number = ? AND received_unix >= ?"
                                          " ORDER BY received_unix DESC, id DESC LIMIT 1");
  statement.Bind(1, vatNumber).Bind(2, notBeforeUnix);
  return ReadAnswer(statement);
}

std::int64_t AnswerStore::ListId(std::string_view key, std::int64_t nowUnix) {
  StoreStatement insert(database_, "INSERT OR IGNORE INTO lists (key, created_unix) VALUES (?, ?)");
  insert.Bind(1, key).Bind(2, nowUnix).Run();
  StoreStatement select(database_, "SELECT id FROM lists WHERE key = ?");
  select.Bind(1, key);
  if (!select.Step()) RaiseStoreError(database_, "lista");
  return select.Number(0);
}

std::optional<std::int64_t> AnswerStore::FindList(std::string_view key) const {
  StoreStatement select(database_, "SELECT id FROM lists WHERE key = ?");
  select.Bind(1, key);
  if (!select.Step()) return std::nullopt;
  return select.Number(0);
}

std::vector<ListRowRecord> AnswerStore::ListRows(std::int64_t listId) const {
  StoreStatement statement(database_,
                           "SELECT line, value, vat_number, state, code, message, paid, answer_id"
                           " FROM list_rows WHERE list_id = ? ORDER BY line");
  statement.Bind(1, listId);
  std::vector<ListRowRecord> rows;
  while (statement.Step()) {
    rows.push_back({statement.Number(0), statement.Text(1), statement.Text(2), statement.Text(3), statement.Text(4),
                    statement.Text(5), statement.Number(6) != 0, statement.OptionalNumber(7)});
  }
  return rows;
}

void AnswerStore::SaveListRow(std::int64_t listId, const ListRowRecord& row, std::int64_t nowUnix) {
  StoreStatement statement(database_,
                           "INSERT OR REPLACE INTO list_rows (list_id, line, value, vat_number, state, code,"
                           " message, paid, answer_id, updated_unix) VALUES (?, ?, ?, ?, ?, ?, ?, ?, ?, ?)");
  statement.Bind(1, listId).Bind(2, row.line).Bind(3, row.value).Bind(4, row.vatNumber).Bind(5, row.state);
  statement.Bind(6, row.code).Bind(7, row.message).Bind(8, std::int64_t{row.paid ? 1 : 0}).Bind(9, row.answerId);
  statement.Bind(10, nowUnix).Run();
}

void AnswerStore::SaveWrittenSubject(const WrittenSubject& subject) {
  InWriteTransaction([&] {
    StoreStatement insert(database_,
                          "INSERT INTO written_subjects (company, archive, kind, code, vat_number, written_unix)"
                          " VALUES (?, ?, ?, ?, ?, ?)");
    insert.Bind(1, subject.company).Bind(2, subject.archive).Bind(3, std::string_view(&subject.kind, 1));
    insert.Bind(4, subject.code).Bind(5, subject.vatNumber).Bind(6, subject.writtenUnix).Run();
    const std::int64_t id = sqlite3_last_insert_rowid(database_);
    for (const auto& [field, value] : subject.values) {
      StoreStatement value_row(database_,
                               "INSERT OR REPLACE INTO written_values (subject_id, field, value) VALUES (?, ?, ?)");
      value_row.Bind(1, id).Bind(2, field).Bind(3, value).Run();
    }
  });
}

std::optional<WrittenSubject> AnswerStore::LastWritten(std::string_view company, std::string_view archive, char kind,
                                                       std::string_view code) const {
  StoreStatement subject(database_,
                         "SELECT id, vat_number, written_unix FROM written_subjects"
                         " WHERE company = ? AND archive = ? AND kind = ? AND code = ? ORDER BY id DESC LIMIT 1");
  subject.Bind(1, company).Bind(2, archive).Bind(3, std::string_view(&kind, 1)).Bind(4, code);
  if (!subject.Step()) return std::nullopt;
  WrittenSubject written{std::string(company), std::string(archive), kind, std::string(code),
                         subject.Text(1),      subject.Number(2),    {}};
  StoreStatement values(database_, "SELECT field, value FROM written_values WHERE subject_id = ? ORDER BY field");
  values.Bind(1, subject.Number(0));
  while (values.Step()) written.values.emplace_back(values.Text(0), values.Text(1));
  return written;
}

void AnswerStore::KeepComparison(const KeptComparison& comparison) {
  InWriteTransaction([&] {
    const std::string_view kind(&comparison.kind, 1);
    DropComparison(comparison.company, comparison.archive, comparison.kind, comparison.code);
    StoreStatement insert(database_,
                          "INSERT INTO comparisons (company, archive, kind, code, vat_number, compared_unix, activity,"
                          " pair_inconsistent, applied_unix) VALUES (?, ?, ?, ?, ?, ?, ?, ?, ?)");
    insert.Bind(1, comparison.company).Bind(2, comparison.archive).Bind(3, kind).Bind(4, comparison.code);
    insert.Bind(5, comparison.vatNumber).Bind(6, comparison.comparedUnix).Bind(7, comparison.activity);
    insert.Bind(8, std::int64_t{comparison.recipientPairInconsistent ? 1 : 0}).Bind(9, comparison.appliedUnix).Run();
    const std::int64_t id = sqlite3_last_insert_rowid(database_);
    std::int64_t position = 0;
    for (const KeptField& field : comparison.fields) {
      StoreStatement row(database_,
                         "INSERT INTO comparison_fields (comparison_id, position, field, archive_value, registry_value,"
                         " base_value, action) VALUES (?, ?, ?, ?, ?, ?, ?)");
      row.Bind(1, id).Bind(2, position++).Bind(3, field.field).Bind(4, field.archive).BindOptional(5, field.registry);
      row.BindOptional(6, field.base).Bind(7, field.action).Run();
    }
  });
}

std::optional<KeptComparison> AnswerStore::LastComparison(std::string_view company, std::string_view archive, char kind,
                                                          std::string_view code) const {
  StoreStatement subject(database_,
                         "SELECT id, vat_number, compared_unix, activity, pair_inconsistent, applied_unix"
                         " FROM comparisons WHERE company = ? AND archive = ? AND kind = ? AND code = ?");
  subject.Bind(1, company).Bind(2, archive).Bind(3, std::string_view(&kind, 1)).Bind(4, code);
  if (!subject.Step()) return std::nullopt;
  KeptComparison kept{
      std::string(company), std::string(archive),   kind, std::string(code),        subject.Text(1), subject.Number(2),
      subject.Text(3),      subject.Number(4) != 0, {},   subject.OptionalNumber(5)};
  StoreStatement fields(database_,
                        "SELECT field, archive_value, registry_value, base_value, action FROM comparison_fields"
                        " WHERE comparison_id = ? ORDER BY position");
  fields.Bind(1, subject.Number(0));
  while (fields.Step()) {
    kept.fields.push_back(
        {fields.Text(0), fields.Text(1), fields.OptionalText(2), fields.OptionalText(3), fields.Text(4)});
  }
  return kept;
}

void AnswerStore::DropComparison(std::string_view company, std::string_view archive, char kind, std::string_view code) {
  StoreStatement drop(database_, "DELETE FROM comparisons WHERE company = ? AND archive = ? AND kind = ? AND code = ?");
  drop.Bind(1, company).Bind(2, archive).Bind(3, std::string_view(&kind, 1)).Bind(4, code).Run();
}

void AnswerStore::MarkComparisonApplied(const KeptComparison& comparison, std::int64_t appliedUnix) {
  StoreStatement mark(database_,
                      "UPDATE comparisons SET applied_unix = ? WHERE company = ? AND archive = ? AND kind = ?"
                      " AND code = ? AND compared_unix = ?");
  mark.Bind(1, appliedUnix).Bind(2, comparison.company).Bind(3, comparison.archive);
  mark.Bind(4, std::string_view(&comparison.kind, 1)).Bind(5, comparison.code).Bind(6, comparison.comparedUnix).Run();
}

}  // namespace korvane::store
