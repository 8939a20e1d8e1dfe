#pragma once

#include <chrono>
#include <memory>
#include <optional>
#include <string>
#include <string_view>

#include "app/subject/VatNumber.h"
#include "config/WriteLock.h"

namespace korvane {

class TIBDatabase;
class TIBTransaction;
namespace platform {
class MachineTurn;
}  // namespace platform

// A company that asks for it ("PartitaIvaPresente...") has its VAT numbers looked up twice per
// run: before the registry call, so that a stored number is answered before the registry is paid
// (with the lock tried and let go again, so that a run that could not write stops before paying);
// and after the answer, under the lock of the setting's own TABX row, in the transaction that then
// inserts and commits the row. The lock is held only for that short write, so runs for different
// numbers never wait for one another's registry calls. Runs of one machine for one number take
// turns before the first look (TakeVatNumberTurn), so the second finds the first's row and pays
// nothing; runs of several machines for one number at the same moment may each pay for an answer
// but write one row between them: the ones after the first find its row under the lock.

// The code of the subject of `table` (CLIENTI or FORNITO) that holds this VAT number, the first
// in CODICE order when several do; nothing when none does. The stored PI and `piva` are compared
// normalised, so an empty one never matches. Read in `transaction`, which
// the caller has started and ends. A read that waited in vain for the engine (a wait
// transaction's lock timeout) raises config::ArchiveBusy.
std::optional<std::string> FindSubjectByVatNumber(TIBDatabase& archive, TIBTransaction& transaction,
                                                  std::string_view table, const VatNumber& piva);

// The look before the registry call made with the lock tried as the write takes it: the lock of
// the setting `settingName` is taken (waiting as the write does; config::ArchiveBusy when it
// cannot be had), the VAT number looked up in its transaction, and the lock let go before
// returning. It is taken again for the write.
std::optional<std::string> LookForSubjectUnderLock(TIBDatabase& archive, std::string_view settingName,
                                                   std::string_view table, const VatNumber& piva,
                                                   std::chrono::seconds lockWait = config::kArchiveLockWait);

// How long a run waits for its turn (TakeVatNumberTurn): longer than another run's registry
// exchange and write.
inline constexpr std::chrono::seconds kTurnWait{90};

// The turn of runs of this machine's user for one VAT number (normalised) in
// one table of one archive, held until the result goes: the second of two runs for the number
// looks for it once the first has written it, and pays nothing. Raises config::ArchiveBusy when
// another run held the turn for all of `wait`. Nothing when turns cannot be had here (the folder,
// the file): the run goes on as without them, which the lock keeps to one row, and the trace says
// why.
std::unique_ptr<platform::MachineTurn> TakeVatNumberTurn(std::string_view archive, std::string_view table,
                                                         const VatNumber& piva,
                                                         std::chrono::milliseconds wait = kTurnWait);
std::unique_ptr<platform::MachineTurn> TakeVatNumberTurn(std::string_view archive, std::string_view table,
                                                         const VatNumber& piva, std::chrono::milliseconds wait,
                                                         const std::string& folder);

// Takes `lock` (starting its transaction, waiting for a run that holds it as long as the lock
// allows) and then looks for the VAT number in `table` in the lock's transaction. The lock lasts
// until that transaction ends, so runs that check the same table follow one another from this
// look to their insert's commit.
std::optional<std::string> LockAndFindSubject(TIBDatabase& archive, config::WriteLock& lock, std::string_view table,
                                              const VatNumber& piva);

}  // namespace korvane
