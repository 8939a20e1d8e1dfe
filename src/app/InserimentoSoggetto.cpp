#include "app/InserimentoSoggetto.h"

#include <algorithm>
#include <cstdio>

#include "db/IBError.h"
#include "db/IBSQL.h"
#include "db/IBTransaction.h"
#include "platform/Exception.h"
#include "platform/StopSignals.h"
#include "platform/Text.h"

namespace korvane {

std::string RemoveHouseNumber(std::string_view indirizzo, std::string_view civico) {
  const std::string_view trimmed = platform::TrimControl(indirizzo);
  if (civico.empty() || trimmed.size() <= civico.size() || !trimmed.ends_with(civico)) return std::string(trimmed);
  const std::string_view street = trimmed.substr(0, trimmed.size() - civico.size());
  if (street.back() != ' ') return std::string(trimmed);
  return std::string(platform::TrimControl(street));
}

std::string DateLiteralText(const std::tm& date) {
  char text[40];
  std::snprintf(text, sizeof text, "%02d/%02d/%04d", date.tm_mon + 1, date.tm_mday, date.tm_year + 1900);
  return text;
}

namespace {

std::tm Today() {
  const std::time_t now = std::time(nullptr);
  std::tm local{};
  localtime_r(&now, &local);
  return local;
}

std::string Cut(const std::string& text, std::int64_t units) { return platform::Utf16Left(text, units); }

// The engine's refusals of a row whose key is taken: by a committed row, or by a concurrent
// transaction (which it may report as a lock or update conflict or a deadlock).
bool ChiaveOccupata(const Exception& error) {
  constexpr int kCodes[] = {
      335544665,  // unique or primary key violation
      335544349,  // duplicate value in a unique index
      335544345,  // lock conflict on a no-wait transaction
      335544336,  // deadlock
      335544451,  // update conflict with a concurrent update
  };
  const auto* database = dynamic_cast<const EIBInterBaseError*>(&error);
  return database != nullptr && std::ranges::find(kCodes, database->IBErrorCode()) != std::end(kCodes);
}

}  // namespace

void InserisciSoggetto(const TParametri& parametri, TIBDatabase& dbArchivio, const TJSONValue* risposta,
                       const PercorsiRisposta& percorsi,
                       const std::string& codice, std::unique_ptr<TIBSQL>& sqlInserimento,
                       IndirizzoSoggetto& indirizzo, const std::function<void(std::string_view)>& writeLine,
                       TIBTransaction* checkAndInsert) {
  sqlInserimento = std::make_unique<TIBSQL>(&dbArchivio);
  TIBSQL& sql = *sqlInserimento;
  if (checkAndInsert != nullptr) sql.SetTransaction(checkAndInsert);
  TIBTransaction& transaction =
      checkAndInsert != nullptr
          ? *checkAndInsert
          : sql.OwnTransaction(std::make_unique<TIBTransaction>(&dbArchivio, TIBTransactionLevel::ibtrSnapshot));
  sql.SetParamCheck(true);

  const bool cliente = parametri.TipoSoggetto() == TTipoSoggetto::tsCliente;
  const std::string oggi = DateLiteralText(Today());
  sql.AddLine(cliente ? "INSERT INTO CLIENTI" : "INSERT INTO FORNITO");
  sql.AddLine("(CODICE,RAGSOC,CF,PI,INDIRIZZO,NUMEROCIVICO,CITTA,PROVINCIA,CAP,CODICEPAESE,DATACREAZIONE,"
              "DATAULTIMOAGGIORNAMENTO)");
  sql.AddLine("VALUES(");
  sql.AddLine(":CODICE,:RAGSOC,:CF,:PI,:INDIRIZZO,:NUMEROCIVICO,:CITTA,:PROVINCIA,:CAP,'IT','" + oggi + "','" +
              oggi + "')");

  // The order of reads and assignments decides which error is reported when several things
  // are wrong; setting the first parameter prepares the statement.
  const std::string civico = GetValueAsString(risposta, percorsi.Civico);
  if (checkAndInsert == nullptr) transaction.StartTransaction();
  sql.ParamByName("PI").SetAsString(parametri.PIVA());
  sql.ParamByName("CODICE").SetAsString(codice);
  sql.ParamByName("RAGSOC").SetAsString(Cut(GetValueAsString(risposta, percorsi.Denominazione), 64));
  sql.ParamByName("CF").SetAsString(Cut(GetValueAsString(risposta, percorsi.CF), 16));
  indirizzo.Indirizzo = GetValueAsString(risposta, percorsi.Indirizzo);
  indirizzo.IndirizzoSenzaCivico = RemoveHouseNumber(indirizzo.Indirizzo, civico);
  sql.ParamByName("INDIRIZZO").SetAsString(Cut(indirizzo.IndirizzoSenzaCivico, 64));
  sql.ParamByName("NUMEROCIVICO").SetAsString(Cut(civico, 8));
  sql.ParamByName("CITTA").SetAsString(Cut(GetValueAsString(risposta, percorsi.Comune), 64));
  sql.ParamByName("PROVINCIA").SetAsString(Cut(GetValueAsString(risposta, percorsi.Provincia), 2));
  sql.ParamByName("CAP").SetAsString(Cut(GetValueAsString(risposta, percorsi.Cap), 10));

  try {
    sql.ExecQuery();
    platform::ProcessRunGate().EnterCommit();
    transaction.Commit();
    writeLine(codice);
  } catch (const Exception& error) {
    const bool chiaveOccupata = ChiaveOccupata(error);
    // The failed statement undid itself; the check's lock is kept for the next try.
    if (checkAndInsert == nullptr || !chiaveOccupata) transaction.Rollback();
    throw EScritturaFallita("Fallita scrittura su database\r" + error.Message(), chiaveOccupata);
  }
}

}  // namespace korvane
