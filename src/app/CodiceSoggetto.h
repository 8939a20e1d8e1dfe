#pragma once

#include <string>

#include "app/Parametri.h"

namespace korvane {

class TIBDatabase;

// Settles the code of the new subject: the -CODICESOGGETTO value as given, or the highest code
// of the table made only of digits plus one, zero-filled to the width configured in TABX for
// that kind of subject (4 when it is missing or not a number). `caratteriRiempimento` receives
// the width setting as read (left alone when the code is given). The query's snapshot
// transaction stays open on the connection until it closes.
void AssegnaCodiceSoggetto(const TParametri& parametri, TIBDatabase& dbArchivio, std::string& codice,
                           std::string& caratteriRiempimento);

}  // namespace korvane
