#pragma once

#include <map>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "config/EInvoiceColumns.h"

namespace korvane {

class Session;
class TIBDatabase;

namespace store {
class AnswerStore;
}  // namespace store

// The columns of a subject that korvane writes and a refresh compares, in this order: RAGSOC, CF,
// INDIRIZZO, NUMEROCIVICO, CITTA, PROVINCIA, CAP, then the company's recipient code and PEC
// columns, those its settings name. PI is not among them: a refresh never changes the number a
// subject is known by.
std::vector<std::string> ComparedColumns(const config::EInvoiceColumns& eInvoice);

// The values of `columns` in the row of `table` with this code, as a refresh compares them: NULL
// reads empty, the blanks a fixed-length column pads with are cut off. Nothing when no row has
// the code. Read in a transaction of its own.
std::optional<std::map<std::string, std::string>> ReadSubjectColumns(TIBDatabase& archive, std::string_view table,
                                                                     std::string_view code,
                                                                     const std::vector<std::string>& columns);

// The base of a refresh is what korvane wrote in a subject's row: a value that still holds it was
// left alone, one that differs was corrected by a person. Both functions below record it in the
// store for the session's company, archive and kind, after korvane's commit on the row, reading the
// values back from the row as ReadSubjectColumns reads them, so that a field nobody touched
// compares equal whatever the archive made of the text (its code page, a fixed-length column's
// padding). They raise the archive's and the store's errors; the row's commit stands either way,
// and a subject left without a base is only filled where empty by a later refresh (nothing a
// person wrote is lost).

// After an import's insert: PI and every compared column, a company column the answer gave
// nothing for with the value the insert left there (the table's default, which no person chose).
// A base recorded before for the same code (a subject since deleted) plays no part.
void RecordInsertedBase(store::AnswerStore& store, Session& session, std::string_view code, std::string_view vatNumber);

// After a refresh's update of `changedColumns`: those columns take the values the row now holds,
// every other keeps the base recorded before (none when there was none), so that a value a
// person corrected stays told apart from korvane's at the next refresh.
void RecordUpdatedBase(store::AnswerStore& store, Session& session, std::string_view code, std::string_view vatNumber,
                       const std::vector<std::string>& changedColumns);

}  // namespace korvane
