#include "app/subject/ExistingSubject.h"

#include "app/subject/VatNumber.h"
#include "config/WriteLock.h"
#include "db/IBDatabase.h"
#include "db/IBSQL.h"
#include "db/IBTransaction.h"
#include "platform/MachineTurn.h"
#include "platform/Trace.h"

namespace korvane {

namespace {

// The stored PI without blanks, "." and "-", in SQL: the server compares every row without
// sending any of them.
constexpr const char* kCompactPI =
    "REPLACE(REPLACE(REPLACE(REPLACE(PI, ' ', ''), ASCII_CHAR(9), ''), '.', ''), '-', '')";

// The compact forms of a stored PI that normalise to `normalized`: with any of the four writings
// of the "IT" prefix before it, and itself unless it starts with such a prefix (which a stored PI
// would lose). Each between dots, which no compact form holds: ".IT0123.It0123.iT0123.it0123.".
std::string CompactFormsBetweenDots(const std::string& normalized) {
  std::string forms = ".";
  for (const char* prefix : {"IT", "It", "iT", "it"}) forms += prefix + normalized + ".";
  if (NormalizeVatNumber(normalized) == normalized) forms += normalized + ".";
  return forms;
}

}  // namespace

std::optional<std::string> FindSubjectByVatNumber(TIBDatabase& archive, TIBTransaction& transaction,
                                                  std::string_view table, const VatNumber& piva) {
  const std::string& normalized = piva.Normalised();
  if (normalized.empty()) return std::nullopt;
  TIBSQL sql(&archive);
  sql.SetTransaction(&transaction);
  // The compact PI is worked out once per row and looked for among the forms.
  sql.AddLine("SELECT FIRST 1 CODICE FROM " + std::string(table));
  sql.AddLine(std::string("WHERE POSITION('.' || ") + kCompactPI + " || '.' IN CAST(:FORMS AS VARCHAR(8000))) > 0");
  sql.AddLine("ORDER BY CODICE");
  sql.ParamByName("FORMS").SetAsString(CompactFormsBetweenDots(normalized));
  std::optional<std::string> codice;
  config::WithinLockTimeout([&] {
    sql.ExecQuery();
    if (!sql.Eof()) codice = sql.FieldByName("CODICE").AsString();
    sql.Close();
  });
  return codice;
}

std::optional<std::string> LockAndFindSubject(TIBDatabase& archive, config::WriteLock& lock, std::string_view table,
                                              const VatNumber& piva) {
  lock.Take();
  return FindSubjectByVatNumber(archive, lock.Transaction(), table, piva);
}

std::optional<std::string> LookForSubjectUnderLock(TIBDatabase& archive, std::string_view settingName,
                                                   std::string_view table, const VatNumber& piva,
                                                   std::chrono::seconds lockWait) {
  config::WriteLock lock(archive, std::string(settingName), lockWait);
  const std::optional<std::string> codice = LockAndFindSubject(archive, lock, table, piva);
  lock.Release();
  return codice;
}

std::unique_ptr<platform::MachineTurn> TakeVatNumberTurn(std::string_view archive, std::string_view table,
                                                         const VatNumber& piva, std::chrono::milliseconds wait) {
  return TakeVatNumberTurn(archive, table, piva, wait, platform::TurnFolder());
}

std::unique_ptr<platform::MachineTurn> TakeVatNumberTurn(std::string_view archive, std::string_view table,
                                                         const VatNumber& piva, std::chrono::milliseconds wait,
                                                         const std::string& folder) {
  const std::string key = std::string(archive) + "\n" + std::string(table) + "\n" + piva.Normalised();
  auto turn = std::make_unique<platform::MachineTurn>(key, wait, folder);
  switch (turn->GetState()) {
    case platform::MachineTurn::State::Taken:
      platform::trace::Step("turn for the VAT number taken: " + turn->Path());
      return turn;
    case platform::MachineTurn::State::Busy:
      platform::trace::Step("turn for the VAT number not had: " + turn->Reason());
      throw config::ArchiveBusy();
    case platform::MachineTurn::State::Unavailable: break;
  }
  platform::trace::Step("no turn for the VAT number: " + turn->Reason());
  return nullptr;
}

}  // namespace korvane
