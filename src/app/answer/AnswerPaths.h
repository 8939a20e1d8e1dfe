#pragma once

#include <array>
#include <cstddef>
#include <string>
#include <string_view>

#include "app/answer/JsonValue.h"
#include "registry/Uri.h"

namespace korvane {

// Where the registry's answer holds the values of the new subject. The insert reads them in one
// fixed order with the same rules for every format; only the paths differ.
struct AnswerPaths {
  // The list of companies, whose first entry the paths below name as "<list>[0]"; empty for an
  // answer that holds one company.
  std::string_view companies;
  std::string_view streetNumber;
  std::string_view companyName;
  std::string_view taxCode;
  std::string_view streetName;  // the house number is removed from it
  std::string_view town;
  std::string_view province;
  std::string_view postCode;
  // The company's activity status ("ATTIVA", "CESSATA", ...); read only by the ceased-company check.
  std::string_view activityStatus;
  // The e-invoicing data; read only for a company that names columns for them.
  std::string_view recipientCode;
  std::string_view pec;
};

// The answer of GET /base/<VAT>: one company under "data".
inline constexpr AnswerPaths kBaseAnswerPaths{"",
                                              "data.civico",
                                              "data.denominazione",
                                              "data.cf",
                                              "data.indirizzo",
                                              "data.comune",
                                              "data.provincia",
                                              "data.cap",
                                              "data.stato_attivita",
                                              "data.codice_destinatario",
                                              "data.pec"};

// The answer of the successor endpoints IT-start and IT-advanced: "data" is a list of companies,
// the run chooses one (ChooseCompany), and the address is nested. A "data" that is one object (as IT-advanced is
// documented) is that company: index 0 of an object is the object itself (TJSONValue::FindValue).
inline constexpr AnswerPaths kSuccessorAnswerPaths{"data",
                                                   "data[0].address.registeredOffice.streetNumber",
                                                   "data[0].companyName",
                                                   "data[0].taxCode",
                                                   "data[0].address.registeredOffice.streetName",
                                                   "data[0].address.registeredOffice.town",
                                                   "data[0].address.registeredOffice.province",
                                                   "data[0].address.registeredOffice.zipCode",
                                                   "data[0].activityStatus",
                                                   "data[0].sdiCode",
                                                   "data[0].pec"};

// The answer format of the registry at this address (taken apart as the request takes it, so
// the query and the fragment are not path): the successor's when the last non-empty segment of
// its path is exactly "IT-start" or "IT-advanced" (letter case as written), else /base.
const AnswerPaths& AnswerPathsFor(const Uri& registryAddress);

// Whether the answer gives the company as ceased: its activity status is a text that reads
// "CESSATA" without regard to letter case and with blanks around it ignored. No status, or a
// value of another kind, is not.
bool CompanyCeased(const TJSONValue* answer, const AnswerPaths& paths);

// The paths of another entry of the list of companies: each path that starts with "<list>[0]"
// starts with "<list>[<entry>]" instead. Entry 0, or an answer without a list, keeps the paths as
// they are.
class CompanyAnswerPaths {
 public:
  CompanyAnswerPaths(const AnswerPaths& paths, std::size_t entry);
  CompanyAnswerPaths(const CompanyAnswerPaths&) = delete;
  CompanyAnswerPaths& operator=(const CompanyAnswerPaths&) = delete;
  const AnswerPaths& Paths() const { return paths_; }

 private:
  std::array<std::string, 10> texts_;
  AnswerPaths paths_;
};

// The company of the answer that the run imports, and why (for the trace).
struct ChosenCompany {
  std::size_t entry = 0;
  std::string reason;
};

// Which entry of the answer's list of companies the run imports. Only a list of more than one
// entry is chosen from: a ceased company (CompanyCeased) or an entry that is not an object is set
// aside; the one entry left is imported; with none left, the first entry, as with one company
// (the ceased setting then applies to it). Two or more left raise "Più imprese attive con la
// P.IVA <vatNumber> (indicare il codice fiscale)": a VAT group, or a number listed for several
// companies, is not guessed at. Any other answer: entry 0, reason empty.
ChosenCompany ChooseCompany(const TJSONValue* answer, const AnswerPaths& paths, std::string_view vatNumber);

}  // namespace korvane
