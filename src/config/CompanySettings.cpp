#include "config/CompanySettings.h"

#include <thread>

#include "config/SqlLiteral.h"
#include "config/TabX.h"
#include "db/IBDatabase.h"
#include "db/IBError.h"
#include "db/IBSQL.h"
#include "db/IBTransaction.h"
#include "platform/Text.h"

namespace korvane::config {

namespace {

// The pause before a lock held by another transaction is asked for again.
constexpr std::chrono::milliseconds kLockRetryPause{10};

}  // namespace

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

std::vector<std::string> LockingTransactionParams() { return {"read_committed", "rec_version", "nowait"}; }

void LockSettingRows(TIBDatabase& archive, TIBTransaction& transaction, std::string_view name,
                     std::chrono::milliseconds limit) {
  TIBSQL sql(&archive);
  sql.SetTransaction(&transaction);
  // The lock rewrites each row as it is, which a reader never waits for.
  sql.AddLine("SELECT NOME FROM TABX");
  sql.AddLine("WHERE (NOME='" + DoubleApostrophes(name) + "')");
  sql.AddLine("WITH LOCK");
  const auto deadline = std::chrono::steady_clock::now() + limit;
  while (true) {
    try {
      // Each row is locked as it is fetched.
      for (sql.ExecQuery(); !sql.Eof(); sql.Next()) {
      }
      sql.Close();
      return;
    } catch (const EIBError& error) {
      sql.Close();
      if (!db::LockHeldElsewhere(error) || std::chrono::steady_clock::now() >= deadline) throw;
      std::this_thread::sleep_for(kLockRetryPause);
    }
  }
}

}  // namespace korvane::config
