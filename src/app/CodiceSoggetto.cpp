#include "app/CodiceSoggetto.h"

#include <algorithm>
#include <cstdint>

#include "app/QelUtility.h"
#include "config/LunghezzeColonne.h"
#include "config/TabX.h"
#include "db/IBDatabase.h"
#include "db/IBQuery.h"
#include "db/IBSQL.h"
#include "platform/Convert.h"
#include "platform/Exception.h"

namespace korvane {

namespace {

constexpr std::int32_t kLarghezzaPredefinita = 4;

// Digits "0" to "9" only; NULL (no such code) is empty text and counts as 0.
std::int64_t CodiceComeNumero(const std::string& cifre) {
  return static_cast<std::int64_t>(platform::DigitsValue(cifre, 10).value_or(0));
}

}  // namespace

const char* TabellaSoggetti(TTipoSoggetto tipo) { return tipo == TTipoSoggetto::tsFornitore ? "FORNITO" : "CLIENTI"; }

LunghezzeSoggetto LeggiLunghezzeSoggetto(TIBDatabase& dbArchivio, TTipoSoggetto tipo) {
  const auto lunghezze = config::LunghezzeColonneTesto(dbArchivio, TabellaSoggetti(tipo), {"CODICE", "PI"});
  auto lunghezza = [&](const char* colonna) -> std::optional<std::int32_t> {
    const auto found = lunghezze.find(colonna);
    if (found == lunghezze.end()) return std::nullopt;
    return found->second;
  };
  return {lunghezza("CODICE"), lunghezza("PI")};
}

bool CodiceRegistrato(TIBDatabase& dbArchivio, TTipoSoggetto tipo, const std::string& codice) {
  TIBSQL sql(&dbArchivio);
  TIBTransaction& transaction =
      sql.OwnTransaction(std::make_unique<TIBTransaction>(&dbArchivio, TIBTransactionLevel::ibtrSnapshot));
  sql.AddLine(std::string("SELECT 1 FROM ") + TabellaSoggetti(tipo) + " WHERE CODICE = :CODICE");
  transaction.StartTransaction();
  sql.ParamByName("CODICE").SetAsString(codice);
  sql.ExecQuery();
  const bool registrato = !sql.Eof();
  transaction.Commit();
  return registrato;
}

void AssegnaCodiceSoggetto(const TParametri& parametri, TIBDatabase& dbArchivio, std::string& codice,
                           std::string& caratteriRiempimento, std::optional<std::int32_t> lunghezzaCodice) {
  const std::string imposto = parametri.CodiceSoggetto();
  if (!imposto.empty()) {
    config::VerificaLunghezzaTesto(imposto, lunghezzaCodice);
    codice = imposto;
    return;
  }

  const TTipoSoggetto tipo = parametri.TipoSoggetto();
  const char* impostazione =
      tipo == TTipoSoggetto::tsFornitore ? "CaratteriRiempimentoFornitori" : "CaratteriRiempimentoClienti";
  TIBQuery query;
  query.SetDatabase(&dbArchivio);
  query.SetTransaction(&dbArchivio.CreateOwnedTransaction(TIBTransactionLevel::ibtrSnapshot));
  // Only codes of 1 to 18 digits count, so that no stored code (empty, too long for 64 bits)
  // can stop the numbering. Left-filled with zeros to 18 digits, texts order as their numbers
  // do, with no conversion that could fail and in either SQL dialect.
  query.AddLine("SELECT MAX(LPAD(CODICE, 18, '0')) AS CODICEMAX ");
  query.AddLine(std::string("FROM ") + TabellaSoggetti(tipo));
  caratteriRiempimento = GetTabXValue(dbArchivio, impostazione, -1);
  query.AddLine("WHERE CODICE SIMILAR TO '[0-9]{1,18}' ");
  query.Open();

  std::int32_t larghezza = platform::StrToInt32(caratteriRiempimento).value_or(kLarghezzaPredefinita);
  if (larghezza == 0) larghezza = kLarghezzaPredefinita;
  if (larghezza < 0) {
    throw Exception("Larghezza codice soggetto non valida (" + std::string(impostazione) + " = " +
                    std::to_string(larghezza) + ")");
  }
  // The code has exactly `larghezza` characters: a width beyond the column fails here rather
  // than after the registry was paid, and before so many characters are ever built.
  config::VerificaLunghezza(larghezza, lunghezzaCodice);

  // At most 18 digits: the successor still fits in 64 bits.
  const std::int64_t prossimo = CodiceComeNumero(query.FieldByName("CODICEMAX").AsString()) + 1;
  codice = PadLeft(std::to_string(prossimo), larghezza);
  std::replace(codice.begin(), codice.end(), ' ', '0');
}

}  // namespace korvane
