#include "config/CompanySettings.h"

#include <string>

#include "config/TabX.h"
#include "platform/Exception.h"
#include "platform/MessageText.h"
#include "platform/Text.h"

namespace korvane::config {

Exception InvalidSetting(std::string_view name, std::string_view value) {
  // The value stands inside a one-line message: a control character in it becomes "?".
  return Exception("Impostazione non valida (" + std::string(name) + " = " +
                   platform::OutsideTextForMessage(platform::TrimControl(value)) + ")");
}

std::optional<std::size_t> ReadSettingChoice(TIBDatabase& archive, std::string_view name,
                                             std::initializer_list<std::string_view> choices) {
  const std::string stored = ReadTabXValue(archive, std::string(name));
  const std::string_view value = platform::TrimControl(stored);
  if (value.empty()) return std::nullopt;
  std::size_t index = 0;
  for (const std::string_view choice : choices) {
    if (platform::SameTextAscii(value, choice)) return index;
    ++index;
  }
  throw InvalidSetting(name, value);
}

CompanySettings ReadCompanySettings(TIBDatabase& archive, const SubjectSettingNames& names) {
  CompanySettings settings;
  if (const auto choice = ReadSettingChoice(archive, names.existingVatNumber, {"Riusa", "Rifiuta"})) {
    settings.existingVatNumber = *choice == 0 ? ExistingVatNumber::Reuse : ExistingVatNumber::Refuse;
  }
  settings.refuseCeasedCompany = ReadSettingChoice(archive, names.ceasedCompany, {"Rifiuta"}).has_value();
  settings.checkVatNumber = ReadSettingChoice(archive, kCheckVatNumberSetting, {"Si", "No"}) == 0u;
  return settings;
}

}  // namespace korvane::config
