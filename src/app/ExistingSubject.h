#pragma once

#include <chrono>
#include <memory>
#include <optional>
#include <string>
#include <string_view>

namespace korvane {

class TIBDatabase;
class TIBTransaction;

// A company that asks for it ("PartitaIvaPresente...") has its VAT numbers looked up twice per
// run: before the registry call without any lock, so that a stored number is answered before the
// registry is paid; and after the answer, under the lock of the setting's own TABX row, in the
// transaction that then inserts and commits the row. The lock is held only for that short write,
// so runs for different numbers never wait for one another's registry calls, and runs for one
// number at the same moment may each pay for an answer but write one row between them: the ones
// after the first find its row under the lock.

// The code of the subject of `table` (CLIENTI or FORNITO) that holds this VAT number, the first
// in CODICE order when several do; nothing when none does. The stored PI and `piva` are compared
// as NormalizeVatNumber gives them, so an empty one never matches. Read in `transaction`, which
// the caller has started and ends. A read that waited in vain for the engine (a wait
// transaction's lock timeout) raises config::kArchiveBusyMessage.
std::optional<std::string> FindSubjectByVatNumber(TIBDatabase& archive, TIBTransaction& transaction,
                                                  std::string_view table, std::string_view piva);

// How long a run waits, counted by the engine, for another run's lock (held from its registry
// answer to its commit) and for row versions being cleaned up, before it gives up with
// config::kArchiveBusyMessage.
inline constexpr std::chrono::seconds kArchiveLockWait{10};

// The look before the registry call: FindSubjectByVatNumber in a transaction of its own (read
// committed, waiting as the locking one does), ended before it returns; no lock is taken.
std::optional<std::string> LookForSubject(TIBDatabase& archive, std::string_view table, std::string_view piva,
                                          std::chrono::seconds lockWait = kArchiveLockWait);

// The transaction in which a run that looks for an existing subject takes the lock, looks again
// and writes its own: read committed, so that it sees what the run before it committed, waiting
// at most `lockWait` for a lock; rolled back when released active.
std::unique_ptr<TIBTransaction> NewCheckAndInsertTransaction(TIBDatabase& archive,
                                                             std::chrono::seconds lockWait = kArchiveLockWait);

// Starts `transaction` (from NewCheckAndInsertTransaction), locks the rows of the setting
// `settingName`, waiting for a run that holds them as long as the transaction's lock timeout,
// and then looks for the VAT number in `table`. The lock lasts until the transaction ends, so
// runs that check the same table follow one another from this look to their insert's commit.
std::optional<std::string> LockAndFindSubject(TIBDatabase& archive, TIBTransaction& transaction,
                                              std::string_view settingName, std::string_view table,
                                              std::string_view piva);

}  // namespace korvane
