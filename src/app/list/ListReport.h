#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "app/list/ListFile.h"

namespace korvane {

// How one row of a list ended, as the report words it.
enum class RowOutcome {
  Imported,        // "importato": the registry asked (paid) and the subject written
  AlreadyPresent,  // "già presente": the number is in the archive already; nothing paid
  Reused,          // "riusato": written from an answer in the store, nothing paid
  Invalid,         // "non valido": not a number to ask for, or the registry knows it not
  Duplicate,       // "duplicato": the same number as an earlier row
  Refused,         // "rifiutato": refused by a setting, the answer or the archive
  Retry,           // "da riprovare": a temporary failure, retried and still failing
  NotTried,        // "non tentata": the run stopped before it
};

std::string_view OutcomeWord(RowOutcome outcome);
std::optional<RowOutcome> OutcomeFromWord(std::string_view word);
// Whether a later run should try the row again.
bool IsToTryAgain(RowOutcome outcome);

struct ReportRow {
  std::int64_t line = 0;
  std::string value;  // as written in the file
  std::string vatNumber;
  RowOutcome outcome = RowOutcome::NotTried;
  std::string code;
  std::string message;
  bool paid = false;
  bool fromStore = false;
  std::optional<std::int64_t> answerAgeSeconds;
  std::string sdi;
  std::string pec;
};

// Writes `bytes` at `path` whole or not at all: into a new file beside it, then renamed over it.
// Raises "<what> non scrivibile (<path>: <reason>)".
void WriteFileWhole(const std::string& path, const std::string& bytes, std::string_view what);

// One cell of a report, quoted as CSV needs. A value that a spreadsheet would take as a formula
// (it begins with "=", "+", "-", "@", a tab or a CR: a company name or a line of the list can)
// gets an apostrophe before it, so that opening the report never runs what a value holds.
std::string ReportField(std::string_view value);

// The first bytes of a report: Italian spreadsheets read UTF-8 by them.
inline constexpr std::string_view kUtf8ByteOrderMark = "\xEF\xBB\xBF";

// The report's first line.
inline constexpr const char* kReportHeader =
    "Riga;Valore;P.IVA;Esito;Codice;Messaggio;Pagata;Risposta dall'archivio;Et\xC3\xA0 della risposta;"
    "Codice destinatario;PEC";

// The report and the file of rows to try again, beside the list unless told: "clienti.csv" gives
// "clienti.rapporto.csv" and "clienti.da-riprovare.csv" ("clienti.xlsx": a ".csv" too).
std::string DefaultReportPath(const std::string& listPath);
std::string RetryFilePath(const std::string& listPath, const ListTableForm& form);

// Writes the report as Italian spreadsheets open it: ";" separated, UTF-8 with a byte order mark,
// CR LF. Written whole under another name, then put in place. Raises "Rapporto non scrivibile
// (<path>: <reason>)".
void WriteListReport(const std::string& path, const std::vector<ReportRow>& rows);

// Writes the header and the rows of `lines` as the list had them: the same bytes, encoding, byte
// order mark and line end (a workbook's rows as ";" text, UTF-8 with a byte order mark, CR LF),
// so that the file is a list of its own. Raises "File delle righe da riprovare non scrivibile
// (<path>: <reason>)".
void WriteRetryFile(const std::string& path, const ListFile& list, const std::vector<std::int64_t>& lines);

}  // namespace korvane
