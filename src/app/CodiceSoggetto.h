#pragma once

#include <cstdint>
#include <optional>
#include <string>

#include "app/Parametri.h"

namespace korvane {

class TIBDatabase;

// The table of the subjects of that kind: CLIENTI for customers, FORNITO for suppliers.
const char* TabellaSoggetti(TTipoSoggetto tipo);

// The declared lengths of the subject table's columns whose values are written whole; a length
// that the database does not declare (no such column) is not known.
struct LunghezzeSoggetto {
  std::optional<std::int32_t> Codice;
  std::optional<std::int32_t> PI;
};
LunghezzeSoggetto LeggiLunghezzeSoggetto(TIBDatabase& dbArchivio, TTipoSoggetto tipo);

// Whether a committed row of the subjects' table of that kind has this code, as a transaction
// started now sees it.
bool CodiceRegistrato(TIBDatabase& dbArchivio, TTipoSoggetto tipo, const std::string& codice);

// Settles the code of the new subject: the -CODICESOGGETTO value as given, or the highest code
// of the table made of 1 to 18 digits plus one, zero-filled to the width configured in TABX for
// that kind of subject (4 when it is missing or not a number). `caratteriRiempimento` receives
// the width setting as read (left alone when the code is given). The query's snapshot
// transaction stays open on the connection until it closes.
// A code longer than `lunghezzaCodice` fails with the database layer's length error, a width
// beyond it without the code being built; a negative width, which would give an empty code, is
// refused.
void AssegnaCodiceSoggetto(const TParametri& parametri, TIBDatabase& dbArchivio, std::string& codice,
                           std::string& caratteriRiempimento,
                           std::optional<std::int32_t> lunghezzaCodice = std::nullopt);

}  // namespace korvane
