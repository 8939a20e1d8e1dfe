#pragma once

#include <string>
#include <vector>

#include "app/refresh/SubjectComparison.h"

namespace korvane {

// The report's first line.
inline constexpr const char* kDifferencesHeader =
    "Codice;P.IVA;Campo;Valore in archivio;Valore dal registro;Base;Azione;Attivit\xC3\xA0";

// The word of a row that points out an archive whose recipient code and PEC contradict each other.
inline constexpr const char* kInconsistentPairWord = "codice destinatario e PEC incoerenti";

// The report's bytes: one row per field that is not the same in the archive and from the registry,
// one for an inconsistent recipient code and PEC, and for a company that is not active one row
// naming its activity even when nothing differs. Active companies first, in the order given; the
// others listed apart after them. ";" separated, UTF-8 with a byte order mark, CR LF, as the
// list's report. A missing value (no base, nothing from the registry) is an empty cell.
std::string DifferencesReportText(const std::vector<SubjectComparison>& subjects);

// Writes the report whole. Raises "Rapporto non scrivibile (<path>: <reason>)".
void WriteDifferencesReport(const std::string& path, const std::vector<SubjectComparison>& subjects);

}  // namespace korvane
