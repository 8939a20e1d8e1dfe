#include "app/answer/SubjectRow.h"

#include "platform/Text.h"

namespace korvane {

SubjectRow ReadSubjectRow(const TJSONValue* answer, const AnswerPaths& paths) {
  SubjectRow row;
  row.streetNumber = GetValueAsString(answer, paths.streetNumber);
  row.companyName = GetValueAsString(answer, paths.companyName);
  row.taxCode = GetValueAsString(answer, paths.taxCode);
  row.address.Indirizzo = GetValueAsString(answer, paths.streetName);
  row.address.IndirizzoSenzaCivico = RemoveHouseNumber(row.address.Indirizzo, row.streetNumber);
  row.town = GetValueAsString(answer, paths.town);
  row.province = GetValueAsString(answer, paths.province);
  row.postCode = GetValueAsString(answer, paths.postCode);
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
