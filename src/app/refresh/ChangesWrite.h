#pragma once

#include <string_view>

#include "app/refresh/SubjectComparison.h"

namespace korvane {

class TIBDatabase;

// Writes the comparison's changes (Changes()) in a transaction of its own, only while the row of
// `table` with the comparison's code still holds every value the comparison read and its VAT
// number: the row is read with a lock for the check, so that no other write slips in between.
// DATAULTIMOAGGIORNAMENTO is set to today. False, with nothing written, when the row changed or
// is gone; the archive's errors are raised, with the transaction rolled back.
bool WriteChanges(TIBDatabase& archive, std::string_view table, const SubjectComparison& comparison);

}  // namespace korvane
