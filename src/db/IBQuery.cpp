#include "db/IBQuery.h"

#include "db/ClientLibrary.h"
#include "platform/Text.h"
#include "platform/Utf8.h"

namespace korvane {

using namespace db;

namespace {

[[noreturn]] void FieldNotFound(const std::string& name) { throw Exception("Field '" + name + "' not found"); }

}  // namespace

// ---- db::QueryField ----

std::string db::QueryField::FieldName() const {
  if (index_ >= query_->sql_.FieldCount()) return {};
  return query_->sql_.Fields(index_).Name();
}

bool db::QueryField::IsNull() const {
  // Without a current row (empty result, or the query closed under it) every field is NULL.
  return !query_->Active() || query_->recordCount_ == 0 || index_ >= query_->sql_.FieldCount() ||
         query_->sql_.Fields(index_).IsNull();
}

std::string db::QueryField::AsString() const {
  return IsNull() ? std::string() : query_->sql_.Fields(index_).AsString();
}

std::int32_t db::QueryField::AsInteger() const { return IsNull() ? 0 : query_->sql_.Fields(index_).AsInteger(); }

// ---- TIBQuery ----

TIBQuery::TIBQuery() { sql_.SetGoToFirstRecordOnExecute(false); }

TIBQuery::~TIBQuery() {
  active_ = false;
  fields_.clear();
  sql_.CloseQuietly();
}

void TIBQuery::SetDatabase(TIBDatabase* database) {
  if (database != sql_.Database()) Close();
  sql_.SetDatabase(database);
}

void TIBQuery::SetTransaction(TIBTransaction* transaction) {
  if (transaction != sql_.Transaction()) Close();
  sql_.SetTransaction(transaction);
}

void TIBQuery::AddLine(std::string_view line) {
  Close();
  sql_.AddLine(line);
}

void TIBQuery::ClearSQL() {
  Close();
  sql_.ClearSQL();
}

void TIBQuery::Open() {
  if (Active()) return;
  active_ = false;
  fields_.clear();
  recordCount_ = 0;
  TIBDatabase* database = sql_.Database();
  TIBTransaction* transaction = sql_.Transaction();
  if (database == nullptr) RaiseClientError(kDatabaseNotAssigned);
  if (transaction == nullptr) RaiseClientError(kTransactionNotAssigned);
  if (!database->Connected()) database->Open();
  if (!transaction->InTransaction() && transaction->AllowAutoStart()) {
    transaction->StartTransaction();
  }
  try {
    // A prepared statement's text was measured when it was prepared.
    if (!sql_.Prepared()) {
      const TIBSQL::ConvertedSQL converted = sql_.ConvertSQL();
      if (platform::Utf16Length(converted.text) < 2) throw Exception("Empty SQL Statement");
      sql_.Prepare(&converted);
    }
    sql_.ExecQuery();
    for (int i = 0; i < sql_.FieldCount(); ++i) {
      fields_.push_back(std::unique_ptr<db::QueryField>(new db::QueryField(this, i)));
    }
    if (sql_.Open()) sql_.Next();
    recordCount_ = sql_.RecordCount();
    active_ = true;
  } catch (...) {
    fields_.clear();
    recordCount_ = 0;
    sql_.CloseQuietly();
    throw;
  }
}

void TIBQuery::Close() {
  const bool wasActive = active_;
  active_ = false;
  fields_.clear();
  recordCount_ = 0;
  if (wasActive) sql_.Close();
}

db::QueryField& TIBQuery::Fields(int index) {
  if (index < 0 || index >= static_cast<int>(fields_.size())) FieldNotFound(std::to_string(index));
  return *fields_[static_cast<std::size_t>(index)];
}

db::QueryField& TIBQuery::FieldByName(std::string_view name) {
  for (const auto& field : fields_) {
    if (platform::UpperCase(field->FieldName()) == platform::UpperCase(platform::TrimControl(name))) {
      return *field;
    }
  }
  FieldNotFound(std::string(name));
}

}  // namespace korvane
