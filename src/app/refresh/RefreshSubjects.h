#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace korvane {

class Session;

// Which stored subjects a refresh looks at.
enum class RefreshChoice {
  Codes,          // --codici FILE: the codes in a file, one a line
  ItalianVat,     // --tutti: every subject with an Italian VAT number
  NotUpdatedFor,  // --non-aggiornati-da N: DATAULTIMOAGGIORNAMENTO missing or older than N days
};

struct RefreshSelection {
  RefreshChoice choice = RefreshChoice::ItalianVat;
  std::string codesPath;
  std::int64_t days = 0;
};

struct ChosenSubject {
  std::string code;
  std::string vatNumber;  // as NormalizeVatNumber gives it
  bool inTable = true;    // false for a code of the file that the table lacks
};

// The subjects of the session's table that `selection` chooses, read in one snapshot: the codes of
// the file in its order (each once, whether the table has it or not), otherwise by code
// those with an Italian VAT number. The file's lines lose blanks around them; blank lines and
// lines that start with "#" are ignored. Raises "File dei codici non leggibile (<path>)".
std::vector<ChosenSubject> ChooseSubjects(Session& session, const RefreshSelection& selection);

}  // namespace korvane
