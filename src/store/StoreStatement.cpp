#include "store/StoreStatement.h"

#include <sqlite3.h>

#include "platform/Exception.h"

namespace korvane::store {

void RaiseStoreError(sqlite3* database, std::string_view doing) {
  const char* file = sqlite3_db_filename(database, "main");
  throw Exception("Archivio delle risposte non utilizzabile (" + std::string(file ? file : "") + ": " +
                  std::string(doing) + ": " + sqlite3_errmsg(database) + ")");
}

StoreStatement::StoreStatement(sqlite3* database, std::string_view sql) : database_(database) {
  if (sqlite3_prepare_v2(database, sql.data(), static_cast<int>(sql.size()), &statement_, nullptr) != SQLITE_OK) {
    RaiseStoreError(database, "preparazione");
  }
}

StoreStatement::~StoreStatement() { sqlite3_finalize(statement_); }

StoreStatement& StoreStatement::Bind(int position, std::string_view text) {
  if (sqlite3_bind_text64(statement_, position, text.data(), text.size(), SQLITE_TRANSIENT, SQLITE_UTF8) != SQLITE_OK) {
    RaiseStoreError(database_, "parametro");
  }
  return *this;
}

StoreStatement& StoreStatement::Bind(int position, std::int64_t number) {
  if (sqlite3_bind_int64(statement_, position, number) != SQLITE_OK) RaiseStoreError(database_, "parametro");
  return *this;
}

StoreStatement& StoreStatement::BindBlob(int position, std::string_view bytes) {
  if (sqlite3_bind_blob64(statement_, position, bytes.data(), bytes.size(), SQLITE_TRANSIENT) != SQLITE_OK) {
    RaiseStoreError(database_, "parametro");
  }
  return *this;
}

StoreStatement& StoreStatement::BindNull(int position) {
  if (sqlite3_bind_null(statement_, position) != SQLITE_OK) RaiseStoreError(database_, "parametro");
  return *this;
}

StoreStatement& StoreStatement::Bind(int position, const std::optional<std::int64_t>& number) {
  return number ? Bind(position, *number) : BindNull(position);
}

StoreStatement& StoreStatement::BindOptional(int position, const std::optional<std::string>& text) {
  return text ? Bind(position, std::string_view(*text)) : BindNull(position);
}

bool StoreStatement::Step() {
  const int result = sqlite3_step(statement_);
  if (result == SQLITE_ROW) return true;
  if (result == SQLITE_DONE) return false;
  RaiseStoreError(database_, "esecuzione");
}

void StoreStatement::Run() {
  while (Step()) {
  }
}

std::string StoreStatement::Text(int column) const {
  // A blob and a text alike: the bytes as stored.
  const auto* bytes = static_cast<const char*>(sqlite3_column_blob(statement_, column));
  const int size = sqlite3_column_bytes(statement_, column);
  return bytes ? std::string(bytes, static_cast<std::size_t>(size)) : std::string();
}

std::int64_t StoreStatement::Number(int column) const { return sqlite3_column_int64(statement_, column); }

std::optional<std::int64_t> StoreStatement::OptionalNumber(int column) const {
  if (sqlite3_column_type(statement_, column) == SQLITE_NULL) return std::nullopt;
  return Number(column);
}

std::optional<std::string> StoreStatement::OptionalText(int column) const {
  if (sqlite3_column_type(statement_, column) == SQLITE_NULL) return std::nullopt;
  return Text(column);
}

}  // namespace korvane::store
