#include "app/subject/SubjectInsert.h"

#include <cstdio>

#include "app/subject/SubjectKind.h"
#include "config/EInvoiceColumns.h"
#include "db/CallBound.h"
#include "db/IBError.h"
#include "db/IBSQL.h"
#include "db/IBTransaction.h"
#include "platform/MessageText.h"
#include "platform/StopSignals.h"
#include "platform/Trace.h"
#include "platform/Utf8.h"

namespace korvane {

std::string UnverifiableWriteMessage(const std::string& codice) {
  return "Esito della scrittura non verificabile (codice " + platform::TextForMessage(codice) + ")";
}

std::string DateLiteralText(const std::tm& date) {
  char text[40];
  std::snprintf(text, sizeof text, "%02d/%02d/%04d", date.tm_mon + 1, date.tm_mday, date.tm_year + 1900);
  return text;
}

std::vector<WrittenField> WrittenFields(const SubjectRow& row) {
  const auto cut = [](const std::string& text, std::int64_t units) { return platform::Utf16Left(text, units); };
  return {
      {"RAGSOC", cut(row.companyName, 64)},
      {"CF", cut(row.taxCode, 16)},
      {"INDIRIZZO", cut(row.address.IndirizzoSenzaCivico, 64)},
      {"NUMEROCIVICO", cut(row.streetNumber, 8)},
      {"CITTA", cut(row.town, 64)},
      {"PROVINCIA", cut(row.province, 2)},
      {"CAP", cut(row.postCode, 10)},
  };
}

namespace {

std::tm Today() {
  const std::time_t now = std::time(nullptr);
  std::tm local{};
  localtime_r(&now, &local);
  return local;
}

// The check's transaction when there is one (the run owns it), else a snapshot transaction
// that the statement owns.
TIBTransaction& InsertTransaction(TIBSQL& sql, TIBDatabase& archive, TIBTransaction* checkAndInsert) {
  if (checkAndInsert == nullptr) {
    return sql.OwnTransaction(std::make_unique<TIBTransaction>(&archive, TIBTransactionLevel::ibtrSnapshot));
  }
  sql.SetTransaction(checkAndInsert);
  return *checkAndInsert;
}

}  // namespace

std::vector<std::string> InsertStatementLines(TTipoSoggetto tipo, const std::vector<CompanyColumnValue>& companyColumns,
                                              const std::tm& date) {
  const std::string day = DateLiteralText(date);
  std::string columns;
  for (const std::string_view column : kInsertedColumns) {
    columns += columns.empty() ? "(" : ",";
    columns += column;
  }
  // The company's own columns: names as the metadata spells them, quoted.
  std::string companyParameters;
  for (const CompanyColumnValue& company : companyColumns) {
    columns += "," + config::QuotedIdentifier(company.column);
    companyParameters += ",:" + company.parameter;
  }
  return {std::string("INSERT INTO ") + SubjectKindOf(tipo).table, columns + ")", "VALUES(",
          ":CODICE,:RAGSOC,:CF,:PI,:INDIRIZZO,:NUMEROCIVICO,:CITTA,:PROVINCIA,:CAP,'IT','" + day + "','" + day + "'" +
              companyParameters + ")"};
}

SubjectInsert::SubjectInsert(TIBDatabase& archive, TTipoSoggetto tipo, platform::RunGate& gate,
                             TIBTransaction* checkAndInsert, std::vector<CompanyColumnValue> companyColumns)
    : SQLInserimento(&archive),
      transaction_(InsertTransaction(SQLInserimento, archive, checkAndInsert)),
      checkAndInsert_(checkAndInsert != nullptr),
      companyColumns_(std::move(companyColumns)),
      gate_(gate) {
  SQLInserimento.SetParamCheck(true);
  for (std::string& line : InsertStatementLines(tipo, companyColumns_, Today())) SQLInserimento.AddLine(line);
}

void SubjectInsert::Write(const std::string& piva, const SubjectRow& row, const std::string& codice) {
  // The order of the assignments decides which error is reported when several things are wrong.
  if (!checkAndInsert_) transaction_.StartTransaction();
  SQLInserimento.ParamByName("PI").SetAsString(piva);
  SQLInserimento.ParamByName("CODICE").SetAsString(codice);
  for (const WrittenField& field : WrittenFields(row))
    SQLInserimento.ParamByName(field.column).SetAsString(field.value);
  for (const CompanyColumnValue& company : companyColumns_)
    SQLInserimento.ParamByName(company.parameter).SetAsString(company.value);
  // The row this write commits carries the transaction's number as its record version: after a
  // connection lost under the commit, that tells this run's row from another run's with the same
  // code and number.
  transactionId_ = transaction_.Id();

  bool committing = false;
  try {
    SQLInserimento.ExecQuery();
    // A stop signal from here waits for the commit's answer as long as a database call may.
    gate_.EnterCommit(UnverifiableWriteMessage(codice), db::CallTimeout());
    committing = true;
    platform::trace::Step("commit sent");
    transaction_.Commit();
    // The row is written: a stop signal from here waits for the session to end.
    gate_.CommitAnswered();
  } catch (const Exception& error) {
    // A database that did not answer before the commit was sent: nothing was written, and the
    // connection is closed on this side. One that did not answer the commit leaves its outcome
    // unknown, as a connection lost under it does.
    const bool noAnswer = db::NoAnswer(error);
    if (noAnswer && !committing) throw;
    // Over a connection that is gone a rollback can only fail; the connection's forced close
    // ends the transaction on this side. A key taken in the check's transaction leaves it
    // active, lock and all, for the next try: the failed statement undid itself.
    const bool lost = db::ConnectionLost(error) || noAnswer;
    const bool keyTaken = db::KeyTaken(error);
    if (!lost && !(checkAndInsert_ && keyTaken)) transaction_.Rollback();
    // A commit that answered with a failure wrote nothing: a stop signal wins again.
    if (committing && !lost) gate_.LeaveCommit();
    throw WriteFailed("Fallita scrittura su database\r" + error.Message(), keyTaken, lost);
  }
}

}  // namespace korvane
