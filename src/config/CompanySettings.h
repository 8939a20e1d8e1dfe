#pragma once

#include <chrono>
#include <cstddef>
#include <functional>
#include <initializer_list>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "platform/Exception.h"

namespace korvane {
class TIBDatabase;
class TIBTransaction;
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

// The position in `choices` of the setting's value, read with GetTabXValue and no user filter,
// compared without regard to letter case, with characters of code 32 and below around it
// ignored. Nothing when the setting is missing or empty. Any other value fails with
// "Impostazione non valida (<name> = <value without the characters around it>)".
std::optional<std::size_t> ReadSettingChoice(TIBDatabase& archive, std::string_view name,
                                             std::initializer_list<std::string_view> choices);

// Every setting of imports of one kind, read and checked in the order of the fields.
CompanySettings ReadCompanySettings(TIBDatabase& archive, const SubjectSettingNames& names);

// The message of a run that waited for the archive (the lock of a setting, a row another run
// holds) as long as its transaction's lock timeout allows, in vain.
inline constexpr const char* kArchiveBusyMessage = "Archivio occupato da un'altra importazione (riprovare)";

// The transaction parameters of a transaction that takes row locks: read committed, so that what
// a run that held them committed is seen, and a wait for a lock held by another transaction (or
// for row versions the engine is still cleaning up) of at most `lockWait`, whole seconds, counted
// by the engine itself.
std::vector<std::string> LockingTransactionParams(std::chrono::seconds lockWait);

// Locks the TABX rows of the named setting in `transaction` (started, from
// LockingTransactionParams) until it ends, so that runs that take the same lock follow one
// another; the engine waits for a run that holds them, as long as the transaction's lock timeout.
// The rows keep their values. A wait that runs out raises kArchiveBusyMessage.
void LockSettingRows(TIBDatabase& archive, TIBTransaction& transaction, std::string_view name);

// Runs `read`; a conflict the engine reports after the transaction's lock timeout (its text
// starts with "deadlock") is raised as kArchiveBusyMessage instead.
void WithinLockTimeout(const std::function<void()>& read);

}  // namespace korvane::config
