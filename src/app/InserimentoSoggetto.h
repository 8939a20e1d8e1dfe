#pragma once

#include <ctime>
#include <functional>
#include <memory>
#include <string>
#include <string_view>

#include "app/JsonValue.h"
#include "app/Parametri.h"
#include "app/PercorsiRisposta.h"

namespace korvane {

class TIBDatabase;
class TIBSQL;

// The address as the registry gave it and with the house number taken out, kept by the run.
struct IndirizzoSoggetto {
  std::string Indirizzo;
  std::string IndirizzoSenzaCivico;
};

// Every non-overlapping occurrence of `civico`, searched left to right, removed from the
// address (nothing when `civico` is empty). The result is not trimmed.
std::string RemoveHouseNumber(std::string_view indirizzo, std::string_view civico);

// A date as the insert writes it into the statement: "mm/dd/yyyy".
std::string DateLiteralText(const std::tm& date);

// Creates `sqlInserimento` on the archive with its own snapshot transaction, fills the new
// subject's row from the registry answer and writes it. Only after the commit is the code
// written with `writeLine`. A failure of the write itself is rolled back and raised with the
// prefix "Fallita scrittura su database" and a carriage return.
// The answer's values are read at the paths of `percorsi`, in the same order for every format.
void InserisciSoggetto(const TParametri& parametri, TIBDatabase& dbArchivio, const TJSONValue* risposta,
                       const PercorsiRisposta& percorsi,
                       const std::string& codice, std::unique_ptr<TIBSQL>& sqlInserimento,
                       IndirizzoSoggetto& indirizzo, const std::function<void(std::string_view)>& writeLine);

}  // namespace korvane
