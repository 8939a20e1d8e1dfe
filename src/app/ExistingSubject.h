#pragma once

#include <optional>
#include <string>
#include <string_view>

namespace korvane {

class TIBDatabase;
class TIBTransaction;
namespace config {
class WriteLock;
}  // namespace config

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
// transaction's lock timeout) raises config::ArchiveBusy.
std::optional<std::string> FindSubjectByVatNumber(TIBDatabase& archive, TIBTransaction& transaction,
                                                  std::string_view table, std::string_view piva);

// The look before the registry call: FindSubjectByVatNumber in a transaction of its own that
// waits as the company's write lock does (config::ReadAsTheLockWaits), ended before it returns;
// no lock is taken.
std::optional<std::string> LookForSubject(TIBDatabase& archive, std::string_view table, std::string_view piva);

// Takes `lock` (starting its transaction, waiting for a run that holds it as long as the lock
// allows) and then looks for the VAT number in `table` in the lock's transaction. The lock lasts
// until that transaction ends, so runs that check the same table follow one another from this
// look to their insert's commit.
std::optional<std::string> LockAndFindSubject(TIBDatabase& archive, config::WriteLock& lock, std::string_view table,
                                              std::string_view piva);

}  // namespace korvane
