#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "db/IBDatabase.h"
#include "db/IBSQL.h"
#include "db/IBTransaction.h"

namespace korvane {
class TIBQuery;
}  // namespace korvane

namespace korvane::db {

// One column of a query's result; reads the value of the current row.
class QueryField {
 public:
  QueryField(const QueryField&) = delete;
  QueryField& operator=(const QueryField&) = delete;

  std::string FieldName() const;
  bool IsNull() const;
  std::string AsString() const;    // NULL: empty text
  std::int32_t AsInteger() const;  // NULL: 0

 private:
  friend class korvane::TIBQuery;
  QueryField(TIBQuery* query, int index) : query_(query), index_(index) {}

  TIBQuery* query_;
  int index_;
};

}  // namespace korvane::db

namespace korvane {

// A SELECT that opens its connection and starts its transaction by itself. It never ends its
// transaction: one it started stays active until committed, rolled back or its connection
// closes.
class TIBQuery {
 public:
  TIBQuery();
  ~TIBQuery();
  TIBQuery(const TIBQuery&) = delete;
  TIBQuery& operator=(const TIBQuery&) = delete;

  TIBDatabase* Database() const { return sql_.Database(); }
  void SetDatabase(TIBDatabase* database);
  TIBTransaction* Transaction() const { return sql_.Transaction(); }
  void SetTransaction(TIBTransaction* transaction);

  void AddLine(std::string_view line);
  void ClearSQL();
  const std::vector<std::string>& SQL() const { return sql_.SQL(); }
  void SetParamCheck(bool check) { sql_.SetParamCheck(check); }

  void Open();
  void Close();
  // A query whose connection closed is closed too.
  bool Active() const { return active_ && sql_.Prepared(); }
  int RecordCount() const { return recordCount_; }

  db::QueryField& Fields(int index);
  db::QueryField& FieldByName(std::string_view name);
  int FieldCount() const { return static_cast<int>(fields_.size()); }

 private:
  friend class db::QueryField;

  TIBSQL sql_;
  bool active_ = false;
  int recordCount_ = 0;
  std::vector<std::unique_ptr<db::QueryField>> fields_;
};

}  // namespace korvane
