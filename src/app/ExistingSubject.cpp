#include "app/ExistingSubject.h"

#include "app/VatNumber.h"
#include "config/CompanySettings.h"
#include "db/IBDatabase.h"
#include "db/IBSQL.h"
#include "db/IBTransaction.h"

namespace korvane {

namespace {

// The stored PI as NormalizeVatNumber gives it, in SQL: the server compares every row without
// sending any of them.
constexpr const char* kCompactPI =
    "REPLACE(REPLACE(REPLACE(REPLACE(PI, ' ', ''), ASCII_CHAR(9), ''), '.', ''), '-', '')";

}  // namespace

std::optional<std::string> FindSubjectByVatNumber(TIBDatabase& archive, TIBTransaction& transaction,
                                                  std::string_view table, std::string_view piva) {
  const std::string normalized = NormalizeVatNumber(piva);
  if (normalized.empty()) return std::nullopt;
  const std::string compact = kCompactPI;
  TIBSQL sql(&archive);
  sql.SetTransaction(&transaction);
  sql.AddLine("SELECT FIRST 1 CODICE FROM " + std::string(table));
  sql.AddLine("WHERE (CASE WHEN UPPER(SUBSTRING(" + compact + " FROM 1 FOR 2)) = 'IT'");
  sql.AddLine("THEN SUBSTRING(" + compact + " FROM 3) ELSE " + compact + " END) = :PIVA");
  sql.AddLine("ORDER BY CODICE");
  sql.ParamByName("PIVA").SetAsString(normalized);
  sql.ExecQuery();
  std::optional<std::string> codice;
  if (!sql.Eof()) codice = sql.FieldByName("CODICE").AsString();
  sql.Close();
  return codice;
}

std::unique_ptr<TIBTransaction> NewCheckAndInsertTransaction(TIBDatabase& archive) {
  auto transaction = std::make_unique<TIBTransaction>(&archive);
  transaction->Params() = config::LockingTransactionParams();
  transaction->SetDefaultAction(TIBTransactionAction::TARollback);
  return transaction;
}

std::optional<std::string> LockAndFindSubject(TIBDatabase& archive, TIBTransaction& transaction,
                                              std::string_view settingName, std::string_view table,
                                              std::string_view piva, std::chrono::milliseconds lockWait) {
  transaction.StartTransaction();
  config::LockSettingRows(archive, transaction, settingName, lockWait);
  return FindSubjectByVatNumber(archive, transaction, table, piva);
}

}  // namespace korvane
