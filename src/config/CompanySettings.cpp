#include "config/CompanySettings.h"

#include <string>

#include "config/SqlLiteral.h"
#include "config/TabX.h"
#include "db/IBDatabase.h"
#include "db/IBError.h"
#include "db/IBSQL.h"
#include "db/IBTransaction.h"
#include "platform/Exception.h"
#include "platform/Text.h"

namespace korvane::config {

Exception InvalidSetting(std::string_view name, std::string_view value) {
  // The value stands inside a one-line message: a control character in it becomes "?".
  return Exception("Impostazione non valida (" + std::string(name) + " = " +
                   platform::OutsideTextForMessage(platform::TrimControl(value)) + ")");
}

std::optional<std::size_t> ReadSettingChoice(TIBDatabase& archive, std::string_view name,
                                             std::initializer_list<std::string_view> choices) {
  const std::string stored = GetTabXValue(archive, std::string(name), -1);
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

std::vector<std::string> LockingTransactionParams(std::chrono::seconds lockWait) {
  return {"read_committed", "rec_version", "wait", "lock_timeout=" + std::to_string(lockWait.count())};
}

void WithinLockTimeout(const std::function<void()>& read) {
  try {
    read();
  } catch (const EIBError& error) {
    if (db::LockHeldElsewhere(error)) throw Exception(kArchiveBusyMessage);
    throw;
  }
}

void LockSettingRows(TIBDatabase& archive, TIBTransaction& transaction, std::string_view name) {
  TIBSQL sql(&archive);
  sql.SetTransaction(&transaction);
  // The lock rewrites each row as it is, which a reader never waits for.
  sql.AddLine("SELECT NOME FROM TABX");
  sql.AddLine("WHERE (NOME='" + DoubleApostrophes(name) + "')");
  sql.AddLine("WITH LOCK");
  WithinLockTimeout([&] {
    // Each row is locked as it is fetched.
    for (sql.ExecQuery(); !sql.Eof(); sql.Next()) {
    }
    sql.Close();
  });
}

}  // namespace korvane::config
