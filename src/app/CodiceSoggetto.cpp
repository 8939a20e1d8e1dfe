#include "app/CodiceSoggetto.h"

#include <algorithm>
#include <cstdint>

#include "app/QelUtility.h"
#include "config/TabX.h"
#include "db/IBDatabase.h"
#include "db/IBQuery.h"
#include "platform/Convert.h"

namespace korvane {

namespace {

constexpr std::int32_t kLarghezzaPredefinita = 4;

}  // namespace

void AssegnaCodiceSoggetto(const TParametri& parametri, TIBDatabase& dbArchivio, std::string& codice,
                           std::string& caratteriRiempimento) {
  const std::string imposto = parametri.CodiceSoggetto();
  if (!imposto.empty()) {
    codice = imposto;
    return;
  }

  TIBQuery query;
  query.SetDatabase(&dbArchivio);
  query.SetTransaction(&dbArchivio.CreateOwnedTransaction(TIBTransactionLevel::ibtrSnapshot));
  query.AddLine("SELECT MAX(CAST(CODICE AS INTEGER)) AS CODICEMAX ");
  if (parametri.TipoSoggetto() == TTipoSoggetto::tsFornitore) {
    query.AddLine("FROM FORNITO");
    caratteriRiempimento = GetTabXValue(dbArchivio, "CaratteriRiempimentoFornitori", -1);
  } else {
    query.AddLine("FROM CLIENTI");
    caratteriRiempimento = GetTabXValue(dbArchivio, "CaratteriRiempimentoClienti", -1);
  }
  query.AddLine("WHERE CODICE SIMILAR TO '[0-9]*' ");
  query.Open();

  std::int32_t larghezza = StrToInt32(caratteriRiempimento).value_or(kLarghezzaPredefinita);
  if (larghezza == 0) larghezza = kLarghezzaPredefinita;

  // Counted in 64 bits: the successor of the largest 32-bit code is a positive number too.
  const std::int64_t prossimo = static_cast<std::int64_t>(query.FieldByName("CODICEMAX").AsInteger()) + 1;
  codice = PadLeft(std::to_string(prossimo), larghezza);
  std::replace(codice.begin(), codice.end(), ' ', '0');
}

}  // namespace korvane
