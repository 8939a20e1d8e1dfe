#include "app/SubjectRow.h"

#include "platform/Text.h"

namespace korvane {

SubjectRow ReadSubjectRow(const TJSONValue* answer, const PercorsiRisposta& paths) {
  SubjectRow row;
  row.streetNumber = GetValueAsString(answer, paths.Civico);
  row.companyName = GetValueAsString(answer, paths.Denominazione);
  row.taxCode = GetValueAsString(answer, paths.CF);
  row.address.Indirizzo = GetValueAsString(answer, paths.Indirizzo);
  row.address.IndirizzoSenzaCivico = RemoveHouseNumber(row.address.Indirizzo, row.streetNumber);
  row.town = GetValueAsString(answer, paths.Comune);
  row.province = GetValueAsString(answer, paths.Provincia);
  row.postCode = GetValueAsString(answer, paths.Cap);
  return row;
}

std::string RemoveHouseNumber(std::string_view address, std::string_view houseNumber) {
  const std::string_view trimmed = platform::TrimControl(address);
  if (houseNumber.empty() || trimmed.size() <= houseNumber.size() || !trimmed.ends_with(houseNumber)) {
    return std::string(trimmed);
  }
  const std::string_view street = trimmed.substr(0, trimmed.size() - houseNumber.size());
  if (street.back() != ' ') return std::string(trimmed);
  return std::string(platform::TrimControl(street));
}

}  // namespace korvane
