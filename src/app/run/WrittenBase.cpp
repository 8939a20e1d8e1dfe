#include "app/run/WrittenBase.h"

#include <algorithm>
#include <chrono>

#include "app/run/Session.h"
#include "config/ReadTransaction.h"
#include "db/IBDatabase.h"
#include "db/IBSQL.h"
#include "store/AnswerStore.h"

namespace korvane {

namespace {

std::int64_t NowUnix() {
  return std::chrono::duration_cast<std::chrono::seconds>(std::chrono::system_clock::now().time_since_epoch()).count();
}

char KindLetter(const Session& session) {
  return session.Inputs().tipoSoggetto == TTipoSoggetto::tsFornitore ? 'F' : 'C';
}

store::WrittenSubject SubjectOf(Session& session, std::string_view code, std::string_view vatNumber) {
  return {session.Inputs().company,
          session.Archive().DatabaseName(),
          KindLetter(session),
          std::string(code),
          std::string(vatNumber),
          NowUnix(),
          {}};
}

// The row's values of `columns` now; none when the row is gone.
std::map<std::string, std::string> ValuesNow(Session& session, std::string_view code,
                                             const std::vector<std::string>& columns) {
  return ReadSubjectColumns(session.Archive(), session.Kind().table, code, columns)
      .value_or(std::map<std::string, std::string>{});
}

}  // namespace

std::vector<std::string> ComparedColumns(const config::EInvoiceColumns& eInvoice) {
  std::vector<std::string> columns{"RAGSOC", "CF", "INDIRIZZO", "NUMEROCIVICO", "CITTA", "PROVINCIA", "CAP"};
  if (eInvoice.recipientCode) columns.push_back(eInvoice.recipientCode->name);
  if (eInvoice.pec) columns.push_back(eInvoice.pec->name);
  return columns;
}

std::optional<std::map<std::string, std::string>> ReadSubjectColumns(TIBDatabase& archive, std::string_view table,
                                                                     std::string_view code,
                                                                     const std::vector<std::string>& columns) {
  return config::ReadInTransaction(
      archive, TIBTransactionLevel::ibtrSnapshot,
      [&](TIBSQL& sql) -> std::optional<std::map<std::string, std::string>> {
        std::string list;
        for (const std::string& column : columns) list += (list.empty() ? "" : ",") + config::QuotedIdentifier(column);
        sql.AddLine("SELECT " + list + " FROM " + std::string(table) + " WHERE CODICE = :CODICE");
        sql.ParamByName("CODICE").SetAsString(code);
        sql.ExecQuery();
        if (sql.Eof()) return std::nullopt;
        std::map<std::string, std::string> values;
        for (const std::string& column : columns) {
          TIBXSQLVAR& field = sql.FieldByName(column);
          std::string value = field.IsNull() ? std::string() : field.AsString();
          while (!value.empty() && value.back() == ' ') value.pop_back();
          values[column] = std::move(value);
        }
        return values;
      });
}

void RecordInsertedBase(store::AnswerStore& store, Session& session, std::string_view code,
                        std::string_view vatNumber) {
  std::vector<std::string> columns = ComparedColumns(session.Rules().eInvoiceColumns);
  columns.insert(columns.begin() + 2, "PI");
  store::WrittenSubject written = SubjectOf(session, code, vatNumber);
  for (auto& [column, value] : ValuesNow(session, code, columns)) written.values.emplace_back(column, std::move(value));
  store.SaveWrittenSubject(written);
}

void RecordUpdatedBase(store::AnswerStore& store, Session& session, std::string_view code, std::string_view vatNumber,
                       const std::vector<std::string>& changedColumns) {
  store::WrittenSubject written = SubjectOf(session, code, vatNumber);
  if (const auto before = store.LastWritten(written.company, written.archive, written.kind, written.code)) {
    written.values = before->values;
  }
  for (auto& now : ValuesNow(session, code, changedColumns)) {
    const auto known = std::find_if(written.values.begin(), written.values.end(),
                                    [&](const auto& entry) { return entry.first == now.first; });
    if (known == written.values.end()) {
      written.values.emplace_back(now.first, std::move(now.second));
    } else {
      known->second = std::move(now.second);
    }
  }
  store.SaveWrittenSubject(written);
}

}  // namespace korvane
