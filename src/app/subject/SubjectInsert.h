#pragma once

#include <array>
#include <cstdint>
#include <ctime>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "app/answer/SubjectRow.h"
#include "app/subject/SubjectKind.h"
#include "db/IBSQL.h"
#include "platform/Exception.h"
#include "platform/StopSignals.h"

namespace korvane {

class TIBDatabase;
class TIBTransaction;

// The write of the record itself failed and was rolled back. `KeyTaken` tells that the database
// refused it for a key already taken, possibly by a concurrent insert not yet committed.
// `ConnectionLost` tells that the connection went away under the execution or the commit: then
// nothing was rolled back, and whether the commit was done is not known.
class WriteFailed : public Exception {
 public:
  WriteFailed(std::string message, bool keyTaken, bool connectionLost = false)
      : Exception(std::move(message)), keyTaken_(keyTaken), connectionLost_(connectionLost) {}
  bool KeyTaken() const noexcept { return keyTaken_; }
  bool ConnectionLost() const noexcept { return connectionLost_; }

 private:
  bool keyTaken_;
  bool connectionLost_;
};

// The columns the insert writes, in the statement's order.
inline constexpr std::array<std::string_view, 12> kInsertedColumns{
    "CODICE", "RAGSOC",    "CF",  "PI",          "INDIRIZZO",     "NUMEROCIVICO",
    "CITTA",  "PROVINCIA", "CAP", "CODICEPAESE", "DATACREAZIONE", "DATAULTIMOAGGIORNAMENTO"};

// A field of the subject's own as the insert writes it: the column (also the statement's
// parameter) and the value cut to the column's length.
struct WrittenField {
  std::string_view column;
  std::string value;
};

// The subject's own fields that the answer gives (RAGSOC to CAP), each cut to its column, in the
// statement's order. A refresh compares against exactly these values.
std::vector<WrittenField> WrittenFields(const SubjectRow& row);

// The message of a write whose commit's outcome could not be learnt: the row may be there.
std::string UnverifiableWriteMessage(const std::string& codice);

// A write whose commit's outcome could not be learnt, with that message: the row may be there,
// and the subject must be looked up before it is imported again.
class WriteInDoubt : public Exception {
 public:
  explicit WriteInDoubt(const std::string& codice) : Exception(UnverifiableWriteMessage(codice)) {}
};

// A date as the insert writes it into the statement: "mm/dd/yyyy".
std::string DateLiteralText(const std::tm& date);

// The insert's statement for a kind of subject, dated `date`: the twelve columns, then the
// company's own (`companyColumns`), each with its parameter.
std::vector<std::string> InsertStatementLines(TTipoSoggetto tipo, const std::vector<CompanyColumnValue>& companyColumns,
                                              const std::tm& date);

// The insert of one subject row into the table of its kind, dated today. The statement (with a
// snapshot transaction of its own) is built here and prepared by the first write; a write that loses its code to
// another run can be tried again with another code on the same prepared statement.
//
// With `checkAndInsert` the statement writes in that transaction instead: the one in which the run
// checked for a subject with its VAT number, started and holding that check's lock. A write
// refused for a taken key then leaves it active, lock and all, for the next try; any other
// failure rolls it back.
//
// `companyColumns` (the company's own e-invoicing columns) are written after the twelve, each
// with its parameter; without them the statement is the twelve columns' alone.
class SubjectInsert {
 public:
  // `gate` is told when the commit is sent: a stop signal no longer ends the run from there.
  SubjectInsert(TIBDatabase& archive, TTipoSoggetto tipo, platform::RunGate& gate,
                TIBTransaction* checkAndInsert = nullptr, std::vector<CompanyColumnValue> companyColumns = {});
  SubjectInsert(const SubjectInsert&) = delete;
  SubjectInsert& operator=(const SubjectInsert&) = delete;

  // Starts the transaction (the check's is started already), sets the parameters in their fixed
  // order (the first one prepares the statement; an error there or in a parameter is raised as it
  // is, the transaction left to the statement's release), executes and commits. A failure of the execution or the
  // commit is rolled back and raised as WriteFailed, with the prefix "Fallita scrittura su database" and a carriage
  // return. Returns once the row is committed.
  void Write(const std::string& piva, const SubjectRow& row, const std::string& codice);

  // The server's number of the transaction of the last write (0 before the first).
  std::int64_t TransactionId() const { return transactionId_; }

 private:
  TIBSQL SQLInserimento;
  TIBTransaction& transaction_;
  bool checkAndInsert_;
  std::vector<CompanyColumnValue> companyColumns_;
  platform::RunGate& gate_;
  std::int64_t transactionId_ = 0;
};

}  // namespace korvane
