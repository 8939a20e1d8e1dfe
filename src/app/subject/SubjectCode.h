#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "app/subject/SubjectKind.h"
#include "config/ColumnLengths.h"

namespace korvane {

class TIBDatabase;

// The declared lengths of the subject table's columns whose values are written whole; a length
// that the database does not declare (no such column) is not known.
struct SubjectColumnLengths {
  std::optional<std::int32_t> code;
  std::optional<std::int32_t> vatNumber;
};
// Those lengths among the table's columns as the metadata gives them (config::ReadTableColumns).
SubjectColumnLengths SubjectColumnLengthsOf(const std::vector<config::TableColumn>& tableColumns);

// The code of the new subject and how it came about.
struct SubjectCode {
  std::string Codice;
  std::string CaratteriRiempimento;  // the width setting as read; empty for a given code
  bool computed = false;             // false: given with -CODICESOGGETTO
  std::int32_t width = 0;            // of a computed code
};

// The highest stored code of 1 to 18 digits as a session knows it: read by its first computed
// code, then raised by each code the session writes, so that the next subject's code needs no
// scan of the table. A code another run writes meanwhile makes the insert's key conflict, and the
// retry reads the table again (NextFreeCode).
class KnownHighestCode {
 public:
  // The highest code as last read (empty text when the table had none); nothing before.
  const std::optional<std::string>& Value() const { return highest_; }
  void Read(std::string highest) { highest_ = std::move(highest); }
  // A code the session has written: the highest from now on when it counts and is higher.
  void Written(const std::string& code);

 private:
  std::optional<std::string> highest_;
};

// Settles the code of the new subject: `givenCode` (-CODICESOGGETTO) when not empty, or the highest code
// of the table made of 1 to 18 digits plus one, zero-filled to the width configured in TABX for
// that kind of subject (4 when it is missing or not a number). The highest code is taken from
// `known` when it holds one, else read and kept there. Each read in a snapshot transaction ended
// before it returns.
// A code longer than `codeLength` fails with the database layer's length error, a width beyond
// it without the code being built; a negative width, which would give an empty code, is refused.
SubjectCode SettleSubjectCode(TTipoSoggetto tipo, const std::string& givenCode, TIBDatabase& archive,
                              std::optional<std::int32_t> codeLength = std::nullopt, KnownHighestCode* known = nullptr);

// Raises "Codice soggetto <code> già presente in archivio" when the table holds a committed row
// with the code given on the command line, which the insert would be refused for after the
// registry was paid. One read in a transaction committed before returning.
void CheckGivenCodeFree(TIBDatabase& archive, TTipoSoggetto tipo, const std::string& givenCode);

// The code to try after `taken` was refused as already used: the highest stored code plus one
// at the same width, and whether `taken` itself is among the committed codes. One read in a
// transaction committed before returning.
struct NextCode {
  std::string code;
  bool takenIsStored = false;
};
NextCode NextFreeCode(TIBDatabase& archive, TTipoSoggetto tipo, std::int32_t width, const std::string& taken);

// True when the table holds a committed row with this code and this VAT number, written by the
// transaction with this number (any, when it is 0). One read in a transaction committed before
// returning.
bool SubjectStored(TIBDatabase& archive, TTipoSoggetto tipo, const std::string& codice, const std::string& piva,
                   std::int64_t writtenBy = 0);

}  // namespace korvane
