#pragma once

#include <cstddef>
#include <initializer_list>
#include <optional>
#include <string>
#include <string_view>

#include "platform/Exception.h"

namespace korvane {
class TIBDatabase;
}  // namespace korvane

namespace korvane::config {

// What a run does when the subject table already holds its VAT number.
enum class ExistingVatNumber {
  Import,  // as if it did not (no setting)
  Reuse,   // "Riusa": the existing subject's code is the run's answer
  Refuse,  // "Rifiuta": the run ends with an error naming that subject
};

// The company's choices for imports of one kind of subject, as its administrator set them in
// TABX. Every choice is off when its setting is missing or empty.
struct CompanySettings {
  ExistingVatNumber existingVatNumber = ExistingVatNumber::Import;
  bool refuseCeasedCompany = false;  // "Rifiuta": a company the registry gives as ceased
  bool checkVatNumber = false;       // "Si": a VAT number whose check digits fail
};

// The names of the settings that belong to one kind of subject (the program maps each kind to
// its names), e.g. "PartitaIvaPresenteClienti" and "ImpresaCessataClienti".
struct SubjectSettingNames {
  std::string_view existingVatNumber;
  std::string_view ceasedCompany;
};
// The setting that holds for every kind.
inline constexpr std::string_view kCheckVatNumberSetting = "ControlloPartitaIva";

// The error of a setting whose value cannot be used: "Impostazione non valida (<name> = <value>)",
// the value without the characters of code 32 and below around it, each control character in it
// shown as "?".
Exception InvalidSetting(std::string_view name, std::string_view value);

// The position in `choices` of the setting's value, read with ReadTabXValue and no user filter,
// compared without regard to letter case, with characters of code 32 and below around it
// ignored. Nothing when the setting is missing or empty. Any other value fails with
// "Impostazione non valida (<name> = <value without the characters around it>)".
std::optional<std::size_t> ReadSettingChoice(TIBDatabase& archive, std::string_view name,
                                             std::initializer_list<std::string_view> choices);

// Every setting of imports of one kind, read and checked in the order of the fields.
CompanySettings ReadCompanySettings(TIBDatabase& archive, const SubjectSettingNames& names);

}  // namespace korvane::config
