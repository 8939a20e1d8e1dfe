#include "app/subject/SubjectCode.h"

#include <algorithm>
#include <cstdint>

#include "app/subject/QelUtility.h"
#include "app/subject/SubjectKind.h"
#include "config/ColumnLengths.h"
#include "config/ReadTransaction.h"
#include "config/TabX.h"
#include "db/IBDatabase.h"
#include "db/IBSQL.h"
#include "platform/Convert.h"
#include "platform/Exception.h"
#include "platform/MessageText.h"

namespace korvane {

namespace {

constexpr std::int32_t kDefaultWidth = 4;

// Only codes of 1 to 18 digits count, so that no stored code (empty, too long for 64 bits) can
// stop the numbering. Left-filled with zeros to 18 digits, texts order as their numbers do, with
// no conversion that could fail and in either SQL dialect.
constexpr const char* kHighestCode = "MAX(LPAD(CODICE, 18, '0'))";
constexpr const char* kNumericCodes = "WHERE CODICE SIMILAR TO '[0-9]{1,18}' ";

// A code the numbering counts: 1 to 18 digits.
bool NumericCode(const std::string& code) {
  return !code.empty() && code.size() <= 18 &&
         std::all_of(code.begin(), code.end(), [](char c) { return c >= '0' && c <= '9'; });
}

std::uint64_t CodeValue(const std::string& code) { return platform::DigitsValue(code, 10).value_or(0); }

// The highest code read (digits only; NULL, no code at all, is empty text and counts as 0) plus
// one, zero-filled to the width. At most 18 digits: the successor still fits in 64 bits.
std::string Successor(const std::string& highest, std::int32_t width) {
  const auto value = static_cast<std::int64_t>(CodeValue(highest));
  std::string code = PadLeft(std::to_string(value + 1), width);
  std::replace(code.begin(), code.end(), ' ', '0');
  return code;
}

}  // namespace

SubjectColumnLengths SubjectColumnLengthsOf(const std::vector<config::TableColumn>& tableColumns) {
  const auto lengths = config::TextColumnLengths(tableColumns, {"CODICE", "PI"});
  auto length = [&](const char* column) -> std::optional<std::int32_t> {
    const auto found = lengths.find(column);
    if (found == lengths.end()) return std::nullopt;
    return found->second;
  };
  return {length("CODICE"), length("PI")};
}

void KnownHighestCode::Written(const std::string& code) {
  if (highest_ && NumericCode(code) && CodeValue(code) > CodeValue(*highest_)) highest_ = code;
}

SubjectCode SettleSubjectCode(TTipoSoggetto tipo, const std::string& givenCode, TIBDatabase& archive,
                              std::optional<std::int32_t> codeLength, KnownHighestCode* known) {
  if (!givenCode.empty()) {
    config::CheckTextLength(givenCode, codeLength);
    return {givenCode, {}, false, 0};
  }

  const SubjectKind& kind = SubjectKindOf(tipo);
  SubjectCode code;
  code.computed = true;
  code.CaratteriRiempimento = GetTabXValue(archive, kind.codeWidthSetting, -1);
  const std::string highest = known && known->Value() ? *known->Value() : [&] {
    std::string read = config::ReadInTransaction(archive, TIBTransactionLevel::ibtrSnapshot, [&](TIBSQL& sql) {
      sql.AddLine(std::string("SELECT ") + kHighestCode + " AS CODICEMAX ");
      sql.AddLine(std::string("FROM ") + kind.table);
      sql.AddLine(kNumericCodes);
      sql.ExecQuery();
      return sql.FieldByName("CODICEMAX").AsString();
    });
    if (known) known->Read(read);
    return read;
  }();

  code.width = platform::StrToInt32(code.CaratteriRiempimento).value_or(kDefaultWidth);
  if (code.width == 0) code.width = kDefaultWidth;
  if (code.width < 0) {
    throw Exception("Larghezza codice soggetto non valida (" + std::string(kind.codeWidthSetting) + " = " +
                    std::to_string(code.width) + ")");
  }
  // The code has exactly `width` characters: a width beyond the column fails here rather than
  // after the registry was paid, and before so many characters are ever built.
  config::CheckLength(code.width, codeLength);
  code.Codice = Successor(highest, code.width);
  return code;
}

void CheckGivenCodeFree(TIBDatabase& archive, TTipoSoggetto tipo, const std::string& givenCode) {
  const bool stored = config::ReadInTransaction(archive, TIBTransactionLevel::ibtrSnapshot, [&](TIBSQL& sql) {
    sql.AddLine(std::string("SELECT COUNT(*) AS PRESENTI FROM ") + SubjectKindOf(tipo).table);
    sql.AddLine("WHERE CODICE = :CODICE");
    sql.ParamByName("CODICE").SetAsString(givenCode);
    sql.ExecQuery();
    return sql.FieldByName("PRESENTI").AsInteger() > 0;
  });
  if (stored) {
    throw Exception("Codice soggetto " + platform::OutsideTextForMessage(givenCode) + " già presente in archivio");
  }
}

NextCode NextFreeCode(TIBDatabase& archive, TTipoSoggetto tipo, std::int32_t width, const std::string& taken) {
  const char* table = SubjectKindOf(tipo).table;
  return config::ReadInTransaction(archive, TIBTransactionLevel::ibtrSnapshot, [&](TIBSQL& sql) {
    sql.AddLine(std::string("SELECT ") + kHighestCode + " AS CODICEMAX,");
    sql.AddLine(std::string("(SELECT COUNT(*) FROM ") + table + " WHERE CODICE = :CODICE) AS PRESENTI");
    sql.AddLine(std::string("FROM ") + table);
    sql.AddLine(kNumericCodes);
    sql.ParamByName("CODICE").SetAsString(taken);
    sql.ExecQuery();
    return NextCode{Successor(sql.FieldByName("CODICEMAX").AsString(), width),
                    sql.FieldByName("PRESENTI").AsInteger() > 0};
  });
}

bool SubjectStored(TIBDatabase& archive, TTipoSoggetto tipo, const std::string& codice, const std::string& piva,
                   std::int64_t writtenBy) {
  return config::ReadInTransaction(archive, TIBTransactionLevel::ibtrSnapshot, [&](TIBSQL& sql) {
    sql.AddLine(std::string("SELECT COUNT(*) AS PRESENTI FROM ") + SubjectKindOf(tipo).table);
    sql.AddLine("WHERE CODICE = :CODICE AND PI = :PI");
    if (writtenBy != 0) sql.AddLine("AND RDB$RECORD_VERSION = " + std::to_string(writtenBy));
    sql.ParamByName("CODICE").SetAsString(codice);
    sql.ParamByName("PI").SetAsString(piva);
    sql.ExecQuery();
    return sql.FieldByName("PRESENTI").AsInteger() > 0;
  });
}

}  // namespace korvane
