#pragma once

#include <ctime>
#include <functional>
#include <memory>
#include <string>
#include <string_view>

#include "app/JsonValue.h"
#include "app/Parametri.h"
#include "app/PercorsiRisposta.h"
#include "platform/Exception.h"

namespace korvane {

class TIBDatabase;
class TIBSQL;
class TIBTransaction;

// The address as the registry gave it and with the house number taken out, kept by the run.
struct IndirizzoSoggetto {
  std::string Indirizzo;
  std::string IndirizzoSenzaCivico;
};

// The address trimmed (characters of code 32 and below at both ends), without its last word
// when that word is exactly the house number (letter case as written) after a blank, trimmed
// again; otherwise the address is kept whole. Registries put the number after the street,
// and street names hold numbers of their own ("Via 4 Novembre 4").
std::string RemoveHouseNumber(std::string_view indirizzo, std::string_view civico);

// The write of the record itself failed and was rolled back. `ChiaveOccupata` tells that the
// database refused it for a key already taken, possibly by a concurrent insert not yet committed.
class EScritturaFallita : public Exception {
 public:
  EScritturaFallita(std::string message, bool chiaveOccupata)
      : Exception(std::move(message)), chiaveOccupata_(chiaveOccupata) {}
  bool ChiaveOccupata() const noexcept { return chiaveOccupata_; }

 private:
  bool chiaveOccupata_;
};

// A date as the insert writes it into the statement: "mm/dd/yyyy".
std::string DateLiteralText(const std::tm& date);

// Creates `sqlInserimento` on the archive with its own snapshot transaction, fills the new
// subject's row from the registry answer and writes it. Only after the commit is the code
// written with `writeLine`. A failure of the write itself is rolled back and raised as
// EScritturaFallita, with the prefix "Fallita scrittura su database" and a carriage return.
// The answer's values are read at the paths of `percorsi`, in the same order for every format.
// With `checkAndInsert` (started, holding the lock of the existing-subject check) the row is
// written and committed in that transaction instead; a write refused for a taken key then leaves
// it active, lock and all, for the next try.
void InserisciSoggetto(const TParametri& parametri, TIBDatabase& dbArchivio, const TJSONValue* risposta,
                       const PercorsiRisposta& percorsi,
                       const std::string& codice, std::unique_ptr<TIBSQL>& sqlInserimento,
                       IndirizzoSoggetto& indirizzo, const std::function<void(std::string_view)>& writeLine,
                       TIBTransaction* checkAndInsert = nullptr);

}  // namespace korvane
