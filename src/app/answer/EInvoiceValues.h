#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "app/answer/AnswerPaths.h"
#include "app/answer/JsonValue.h"
#include "app/answer/SubjectRow.h"
#include "config/EInvoiceColumns.h"

namespace korvane {

// An e-invoicing value of the answer: the text to write, or why none is written (for the trace).
struct EInvoiceValue {
  std::optional<std::string> text;
  std::string leftOutBecause;
};

// Each value is a JSON text at the format's path, taken without the blanks around it (spaces,
// tabs, line breaks); one that holds a control character (a NUL, an escape, ...) is left out
// whole, never trimmed into another value.

// The recipient code at the format's path: a text that, without the blanks around it and
// upper-cased, is 6 or 7 ASCII letters and digits ("0000000" too).
EInvoiceValue RecipientCodeOf(const TJSONValue* answer, const AnswerPaths& paths);

// The PEC at the format's path: a text that, without the blanks around it, is one address (one "@" with text on both
// sides, a "." after it, no blank or control character), that the archive's code page holds exactly and that fits
// `columnLength` characters whole. An address is never cut or changed.
EInvoiceValue PecOf(const TJSONValue* answer, const AnswerPaths& paths, std::int32_t columnLength);

// The values for the company's columns that the answer gives usably, in the order recipient code,
// PEC; a column without one is left to the table's default. Traces each outcome as what the insert
// will carry or why a value is left out.
std::vector<CompanyColumnValue> EInvoiceColumnValues(const TJSONValue* answer, const AnswerPaths& paths,
                                                     const config::EInvoiceColumns& columns);

// Traces, once the insert is committed, each company column's value as written.
void TraceWrittenValues(const std::vector<CompanyColumnValue>& values);

}  // namespace korvane
