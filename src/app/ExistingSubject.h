#pragma once

#include <chrono>
#include <memory>
#include <optional>
#include <string>
#include <string_view>

namespace korvane {

class TIBDatabase;
class TIBTransaction;

// The code of the subject of `table` (CLIENTI or FORNITO) that holds this VAT number, the first
// in CODICE order when several do; nothing when none does. The stored PI and `piva` are compared
// as NormalizeVatNumber gives them, so an empty one never matches. Read in `transaction`, which
// the caller has started and ends.
std::optional<std::string> FindSubjectByVatNumber(TIBDatabase& archive, TIBTransaction& transaction,
                                                  std::string_view table, std::string_view piva);

// How long a run waits for another run's check and insert of the same kind of subject: as long as
// the registry exchange that the other run may be waiting for.
inline constexpr std::chrono::milliseconds kExistingSubjectLockWait{60000};

// The transaction in which a run that looks for an existing subject also writes its own: read
// committed, so that it sees what the run before it committed; rolled back when released active.
std::unique_ptr<TIBTransaction> NewCheckAndInsertTransaction(TIBDatabase& archive);

// Starts `transaction` (from NewCheckAndInsertTransaction), locks the rows of the setting
// `settingName`, waiting at most `lockWait` for a run that holds them, and then looks for the
// VAT number in `table`. The lock lasts until the transaction ends, so runs that check the same
// table follow one another from this check to their insert's commit.
std::optional<std::string> LockAndFindSubject(TIBDatabase& archive, TIBTransaction& transaction,
                                              std::string_view settingName, std::string_view table,
                                              std::string_view piva,
                                              std::chrono::milliseconds lockWait = kExistingSubjectLockWait);

}  // namespace korvane
