#pragma once

#include <chrono>
#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

struct sqlite3;

namespace korvane::store {

// Where the store is when no variable names another: the state folder the package creates.
inline constexpr const char* kDefaultStorePath = "/var/lib/korvane/risposte.sqlite";

// The version of the tables this program reads and writes; an older store is brought up to it.
inline constexpr int kStoreSchemaVersion = 2;

// How long a run waits for another that is writing the store.
inline constexpr std::chrono::milliseconds kStoreBusyWait{10000};

// One answer of the registry paid for, as it came.
struct StoredAnswer {
  std::int64_t id = 0;
  std::string vatNumber;
  std::string endpoint;           // the registry's host and the request's path
  std::int64_t receivedUnix = 0;  // UTC seconds
  std::string body;               // the raw bytes of the answer's body
  std::string ledgerKey;          // the ledger's number of the request, empty without a ledger
};

// One line of a list file and how far it has come. `state` is the outcome word the report uses;
// a row whose request left without an outcome recorded is in the state the caller chose for it.
struct ListRowRecord {
  std::int64_t line = 0;
  std::string value;      // as written in the file
  std::string vatNumber;  // as cleaned
  std::string state;
  std::string code;
  std::string message;
  bool paid = false;
  std::optional<std::int64_t> answerId;
};

// The values korvane wrote for one subject: the base a later refresh compares against.
struct WrittenSubject {
  std::string company;
  std::string archive;
  char kind = 'C';
  std::string code;
  std::string vatNumber;
  std::int64_t writtenUnix = 0;
  std::vector<std::pair<std::string, std::string>> values;  // column -> value, as written
};

// One field of a refresh's comparison as it was shown: the value it read in the archive, the
// registry's and the base (none when there was none), and the action's word.
struct KeptField {
  std::string field;
  std::string archive;
  std::optional<std::string> registry;
  std::optional<std::string> base;
  std::string action;
};

// The last comparison of one subject, kept so that applying it writes exactly what it showed.
struct KeptComparison {
  std::string company;
  std::string archive;
  char kind = 'C';
  std::string code;
  std::string vatNumber;
  std::int64_t comparedUnix = 0;
  std::string activity;  // the word of the company's activity
  bool recipientPairInconsistent = false;
  std::vector<KeptField> fields;
  // When it was applied; none while it is still to apply.
  std::optional<std::int64_t> appliedUnix;
};

// The store: a SQLite database in WAL mode that several runs may use at once, each waiting for
// the others' writes up to kStoreBusyWait. Every change is its own transaction.
class AnswerStore {
 public:
  // Opens the store at `path` (created, mode 0600, when missing) with the rules of the run's own
  // files: a symbolic link, a file of another user, one with several names, or what is not a
  // regular file is refused. Creates or upgrades the tables. Raises "Archivio delle risposte non
  // utilizzabile (<path>: <reason>)".
  explicit AnswerStore(const std::string& path);
  ~AnswerStore();
  AnswerStore(const AnswerStore&) = delete;
  AnswerStore& operator=(const AnswerStore&) = delete;

  const std::string& Path() const { return path_; }
  int SchemaVersion() const;

  // Keeps an answer; returns its id.
  std::int64_t SaveAnswer(const StoredAnswer& answer);
  std::optional<StoredAnswer> Answer(std::int64_t id) const;
  // The youngest answer for the VAT number received at `notBeforeUnix` or later.
  std::optional<StoredAnswer> LatestAnswer(std::string_view vatNumber, std::int64_t notBeforeUnix) const;

  // The list known by `key` (the file, the user, the company and the kind), made when new.
  std::int64_t ListId(std::string_view key, std::int64_t nowUnix);
  // The list known by `key`, when a run has made it.
  std::optional<std::int64_t> FindList(std::string_view key) const;
  std::vector<ListRowRecord> ListRows(std::int64_t listId) const;
  // Records a row's state, replacing what was recorded for its line.
  void SaveListRow(std::int64_t listId, const ListRowRecord& row, std::int64_t nowUnix);

  void SaveWrittenSubject(const WrittenSubject& subject);
  // What was written last for the subject `code` of the kind in the company's archive.
  std::optional<WrittenSubject> LastWritten(std::string_view company, std::string_view archive, char kind,
                                            std::string_view code) const;

  // Keeps the comparison as the subject's last, in place of the one kept before (applied or not).
  void KeepComparison(const KeptComparison& comparison);
  // The last comparison kept for the subject `code` of the kind in the company's archive.
  std::optional<KeptComparison> LastComparison(std::string_view company, std::string_view archive, char kind,
                                               std::string_view code) const;
  // Forgets the subject's last comparison: a later one could not be made, and an apply must not
  // write what an older report showed.
  void DropComparison(std::string_view company, std::string_view archive, char kind, std::string_view code);
  // Records that the subject's last comparison, kept at `comparedUnix`, was applied; nothing
  // changes when another comparison has been kept since.
  void MarkComparisonApplied(const KeptComparison& comparison, std::int64_t appliedUnix);

 private:
  void Execute(std::string_view sql);
  // Runs `writes` in one transaction taken with the write lock, rolled back when it raises.
  void InWriteTransaction(const std::function<void()>& writes);
  void BringSchemaUp();

  std::string path_;
  sqlite3* database_ = nullptr;
};

}  // namespace korvane::store
