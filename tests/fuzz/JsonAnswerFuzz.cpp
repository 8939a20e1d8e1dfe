// Arbitrary bytes as the registry's answer body: parsing and the run's reads (the subject's fields,
// the e-invoicing values for a company's columns of several lengths) must never crash, hang or
// recurse without bound; errors surface only as the tool's own exceptions.
#include <cstddef>
#include <cstdint>
#include <string_view>

#include "app/answer/AnswerPaths.h"
#include "app/answer/EInvoiceValues.h"
#include "app/answer/JsonValue.h"
#include "config/EInvoiceColumns.h"
#include "platform/Exception.h"
#include "platform/Utf8.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  // The body reaches the parser as UTF-8 text, decoded by the HTTP client.
  const std::string body = korvane::platform::SanitizeUtf8(std::string_view(reinterpret_cast<const char*>(data), size));
  const auto answer = korvane::ParseJSONValue(body);
  try {
    korvane::GetValueAsBoolean(answer.get(), "success");
  } catch (const korvane::Exception&) {
  }
  for (const auto& p : {korvane::kBaseAnswerPaths, korvane::kSuccessorAnswerPaths}) {
    for (const std::string_view path : {p.streetNumber, p.companyName, p.taxCode, p.streetName, p.town, p.province,
                                        p.postCode, p.activityStatus, p.recipientCode, p.pec}) {
      try {
        korvane::GetValueAsString(answer.get(), path);
      } catch (const korvane::Exception&) {
      }
    }
    for (const std::int32_t length : {0, 7, 40, 255}) {
      korvane::config::EInvoiceColumns columns;
      columns.recipientCode = korvane::config::CompanyColumn{"CODICE_SDI", length};
      columns.pec = korvane::config::CompanyColumn{"PEC", length};
      try {
        korvane::EInvoiceColumnValues(answer.get(), p, columns);
      } catch (const korvane::Exception&) {
      }
    }
  }
  return 0;
}
