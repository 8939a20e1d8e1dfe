#pragma once

#include <string_view>

#include "app/JsonValue.h"

namespace korvane {

// Where the registry's answer holds the values of the new subject. The insert reads them in one
// fixed order with the same rules for every format; only the paths differ.
struct AnswerPaths {
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
inline constexpr AnswerPaths kBaseAnswerPaths{"data.civico",    "data.denominazione",  "data.cf",
                                              "data.indirizzo", "data.comune",         "data.provincia",
                                              "data.cap",       "data.stato_attivita", "data.codice_destinatario",
                                              "data.pec"};

// The answer of the successor endpoints IT-start and IT-advanced: "data" is a list of companies,
// the first one counts, and the address is nested. A "data" that is one object (as IT-advanced is
// documented) is that company: index 0 of an object is the object itself (TJSONValue::FindValue).
inline constexpr AnswerPaths kSuccessorAnswerPaths{"data[0].address.registeredOffice.streetNumber",
                                                   "data[0].companyName",
                                                   "data[0].taxCode",
                                                   "data[0].address.registeredOffice.streetName",
                                                   "data[0].address.registeredOffice.town",
                                                   "data[0].address.registeredOffice.province",
                                                   "data[0].address.registeredOffice.zipCode",
                                                   "data[0].activityStatus",
                                                   "data[0].sdiCode",
                                                   "data[0].pec"};

// The answer format of the registry at this address: the successor's when the last non-empty
// segment of its path is exactly "IT-start" or "IT-advanced" (letter case as written), else /base.
const AnswerPaths& AnswerPathsFor(std::string_view registryUrl);

// Whether the answer gives the company as ceased: its activity status is a text that reads
// "CESSATA" without regard to letter case and with blanks around it ignored. No status, or a
// value of another kind, is not.
bool CompanyCeased(const TJSONValue* answer, const AnswerPaths& paths);

}  // namespace korvane
