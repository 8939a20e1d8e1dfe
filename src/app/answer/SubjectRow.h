#pragma once

#include <string>
#include <string_view>
#include <vector>

#include "app/answer/AnswerPaths.h"
#include "app/answer/JsonValue.h"

namespace korvane {

// The address as the registry gave it and with the house number taken out (the names the tool's
// interface gives them).
struct SubjectAddress {
  std::string Indirizzo;
  std::string IndirizzoSenzaCivico;
};

// A value for a column of the company's own (named as the database's metadata spells it), checked
// to be stored whole, and the statement's parameter that carries it.
struct CompanyColumnValue {
  std::string column;
  std::string parameter;
  std::string value;
};

// The new subject's values as the registry's answer gives them, read once; the insert cuts them
// to their columns.
struct SubjectRow {
  std::string streetNumber;  // NUMEROCIVICO
  std::string companyName;   // RAGSOC
  std::string taxCode;       // CF
  SubjectAddress address;    // INDIRIZZO, without the house number
  std::string town;          // CITTA
  std::string province;      // PROVINCIA
  std::string postCode;      // CAP
  // The e-invoicing values for the company's own columns, written as they are; none without
  // those settings.
  std::vector<CompanyColumnValue> companyColumns;
};

// Reads the row at the paths of the answer's format, each once, in one fixed order for every
// format, so that a missing or unreadable value names the first path that fails. Raises the
// answer reader's errors.
SubjectRow ReadSubjectRow(const TJSONValue* answer, const AnswerPaths& paths);

// The address trimmed (characters of code 32 and below at both ends), without its last word
// when that word is exactly the house number (letter case as written) after a blank, trimmed
// again; otherwise the address is kept whole. Registries put the number after the street,
// and street names hold numbers of their own ("Via 4 Novembre 4").
std::string RemoveHouseNumber(std::string_view address, std::string_view houseNumber);

}  // namespace korvane
