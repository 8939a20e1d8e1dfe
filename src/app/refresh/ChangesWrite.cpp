#include "app/refresh/ChangesWrite.h"

#include "app/subject/VatNumber.h"
#include "config/EInvoiceColumns.h"
#include "db/IBDatabase.h"
#include "db/IBSQL.h"
#include "db/IBTransaction.h"
#include "platform/Exception.h"

namespace korvane {

namespace {

std::string WithoutTrailingBlanks(std::string text) {
  while (!text.empty() && text.back() == ' ') text.pop_back();
  return text;
}

// Whether the row still holds what the comparison read; locks it until the transaction ends.
bool RowUnchanged(TIBDatabase& archive, TIBTransaction& transaction, std::string_view table,
                  const SubjectComparison& comparison) {
  std::string list = "PI";
  for (const FieldComparison& field : comparison.fields) list += "," + config::QuotedIdentifier(field.field);
  TIBSQL read(&archive);
  read.SetTransaction(&transaction);
  read.AddLine("SELECT " + list + " FROM " + std::string(table) + " WHERE CODICE = :CODICE WITH LOCK");
  read.ParamByName("CODICE").SetAsString(comparison.code);
  read.ExecQuery();
  bool unchanged = !read.Eof() && NormalizeVatNumber(read.FieldByName("PI").AsString()) == comparison.vatNumber;
  for (const FieldComparison& field : comparison.fields) {
    if (!unchanged) break;
    TIBXSQLVAR& value = read.FieldByName(field.field);
    unchanged = WithoutTrailingBlanks(value.IsNull() ? std::string() : value.AsString()) == field.archive;
  }
  read.Close();
  return unchanged;
}

}  // namespace

bool WriteChanges(TIBDatabase& archive, std::string_view table, const SubjectComparison& comparison) {
  TIBTransaction transaction(&archive, TIBTransactionLevel::ibtrSnapshot);
  transaction.StartTransaction();
  try {
    if (!RowUnchanged(archive, transaction, table, comparison)) {
      transaction.Rollback();
      return false;
    }
    TIBSQL update(&archive);
    update.SetTransaction(&transaction);
    update.SetParamCheck(true);
    const auto changes = comparison.Changes();
    std::string assignments;
    for (std::size_t i = 0; i < changes.size(); ++i) {
      assignments += config::QuotedIdentifier(changes[i].first) + " = :V" + std::to_string(i) + ", ";
    }
    update.AddLine("UPDATE " + std::string(table) + " SET " + assignments +
                   "DATAULTIMOAGGIORNAMENTO = CURRENT_DATE WHERE CODICE = :CODICE");
    for (std::size_t i = 0; i < changes.size(); ++i) {
      update.ParamByName("V" + std::to_string(i)).SetAsString(changes[i].second);
    }
    update.ParamByName("CODICE").SetAsString(comparison.code);
    update.ExecQuery();
    transaction.Commit();
    return true;
  } catch (...) {
    try {
      transaction.Rollback();
    } catch (const Exception&) {
    }
    throw;
  }
}

}  // namespace korvane
