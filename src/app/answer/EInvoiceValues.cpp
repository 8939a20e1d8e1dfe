#include "app/answer/EInvoiceValues.h"

#include <algorithm>

#include "config/ColumnLengths.h"
#include "platform/CodePages.h"
#include "platform/MessageText.h"
#include "platform/Text.h"
#include "platform/Trace.h"
#include "platform/Utf8.h"

namespace korvane {

namespace {

namespace trace = platform::trace;

// The statement's parameters of the two values.
constexpr const char* kRecipientCodeParameter = "CODICEDESTINATARIO";
constexpr const char* kPecParameter = "PEC";

EInvoiceValue LeftOut(std::string_view text, std::string_view because) {
  return {std::nullopt, "'" + platform::OutsideTextForMessage(text) + "' " + std::string(because)};
}

// The text at the path without the blanks around it (spaces, tabs, line breaks); else why not.
// A text that then holds a control character anywhere is left out: trimming one away (a NUL at
// the end, say) would write another value than the registry gave.
EInvoiceValue TextAt(const TJSONValue* answer, std::string_view path) {
  const TJSONValue* value = answer ? answer->FindValue(path) : nullptr;
  if (value == nullptr) return {std::nullopt, "not in the answer"};
  if (value->GetKind() == TJSONValue::Kind::Null) return {std::nullopt, "null in the answer"};
  if (value->GetKind() != TJSONValue::Kind::String) return {std::nullopt, "not a text"};
  std::string_view text = value->Text();
  constexpr std::string_view kBlanks = " \t\r\n";
  text.remove_prefix(std::min(text.find_first_not_of(kBlanks), text.size()));
  text.remove_suffix(text.size() - (text.find_last_not_of(kBlanks) + 1));
  if (platform::HasAsciiControlCharacter(text)) return LeftOut(text, "holds a control character");
  return {std::string(text), {}};
}

// A blank or a control character of any kind: none belongs in an address.
bool IsBlankOrControl(char32_t c) {
  return c <= 0x20 || (c >= 0x7F && c <= 0xA0) || c == 0x1680 || (c >= 0x2000 && c <= 0x200F) ||
         (c >= 0x2028 && c <= 0x202F) || c == 0x205F || (c >= 0x2060 && c <= 0x206F) || c == 0x3000 || c == 0xFEFF;
}

bool IsOneAddress(std::string_view text) {
  const std::u32string codePoints = platform::DecodeUtf8(text);
  if (std::ranges::any_of(codePoints, IsBlankOrControl)) return false;
  const std::size_t at = text.find('@');
  if (at == std::string_view::npos || at == 0 || text.find('@', at + 1) != std::string_view::npos) return false;
  const std::string_view domain = text.substr(at + 1);
  return !domain.empty() && domain.find('.') != std::string_view::npos;
}

constexpr const char* kRecipientCodeName = "recipient code";
constexpr const char* kPecName = "PEC";

// What the answer gives for a column: the value the insert will carry, or why it is left out. That
// a value was written is traced only once the insert is committed (TraceWrittenValues).
void TraceValue(const char* what, const std::string& column, const EInvoiceValue& value) {
  if (!trace::On()) return;
  if (value.text) {
    trace::Step(std::string(what) + " '" + *value.text + "' for " + column);
  } else {
    trace::Step(std::string(what) + " left out of " + column + " (table default): " + value.leftOutBecause);
  }
}

}  // namespace

EInvoiceValue RecipientCodeOf(const TJSONValue* answer, const AnswerPaths& paths) {
  EInvoiceValue value = TextAt(answer, paths.recipientCode);
  if (!value.text) return value;
  const std::string& text = *value.text;
  if ((text.size() != 6 && text.size() != 7) || !platform::IsAsciiLettersAndDigits(text)) {
    return LeftOut(text, "is not 6 or 7 letters and digits");
  }
  value.text = platform::UpperCase(text);
  return value;
}

EInvoiceValue PecOf(const TJSONValue* answer, const AnswerPaths& paths, std::int32_t columnLength) {
  EInvoiceValue value = TextAt(answer, paths.pec);
  if (!value.text) return value;
  const std::string& text = *value.text;
  if (!IsOneAddress(text)) return LeftOut(text, "is not one address");
  // Written in the archive's code page: an address it cannot hold exactly would be stored as another.
  if (platform::Cp1252ToUtf8(platform::Utf8ToCp1252(text)) != text) {
    return LeftOut(text, "has characters the archive cannot hold");
  }
  if (config::TextLength(text) > columnLength) {
    return LeftOut(text, "is longer than the column's " + std::to_string(columnLength) + " characters");
  }
  return value;
}

std::vector<CompanyColumnValue> EInvoiceColumnValues(const TJSONValue* answer, const AnswerPaths& paths,
                                                     const config::EInvoiceColumns& columns) {
  std::vector<CompanyColumnValue> values;
  if (columns.recipientCode) {
    const EInvoiceValue code = RecipientCodeOf(answer, paths);
    TraceValue(kRecipientCodeName, columns.recipientCode->name, code);
    if (code.text) values.push_back({columns.recipientCode->name, kRecipientCodeParameter, *code.text});
  }
  if (columns.pec) {
    const EInvoiceValue pec = PecOf(answer, paths, columns.pec->length);
    TraceValue(kPecName, columns.pec->name, pec);
    if (pec.text) values.push_back({columns.pec->name, kPecParameter, *pec.text});
  }
  return values;
}

void TraceWrittenValues(const std::vector<CompanyColumnValue>& values) {
  if (!trace::On()) return;
  for (const CompanyColumnValue& value : values) {
    const char* what = value.parameter == kPecParameter ? kPecName : kRecipientCodeName;
    trace::Step(std::string(what) + " '" + value.value + "' written to " + value.column);
  }
}

}  // namespace korvane
