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

}  // namespace

void InserisciSoggetto(const TParametri& parametri, TIBDatabase& dbArchivio, const TJSONValue* risposta,
                       const PercorsiRisposta& percorsi,
                       const std::string& codice, std::unique_ptr<TIBSQL>& sqlInserimento,
                       IndirizzoSoggetto& indirizzo, const std::function<void(std::string_view)>& writeLine) {
  sqlInserimento = std::make_unique<TIBSQL>(&dbArchivio);
  TIBSQL& sql = *sqlInserimento;
  TIBTransaction& transaction =
      sql.OwnTransaction(std::make_unique<TIBTransaction>(&dbArchivio, TIBTransactionLevel::ibtrSnapshot));
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
  transaction.StartTransaction();
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
    transaction.Rollback();
    throw EScritturaFallita("Fallita scrittura su database\r" + error.Message(), db::KeyTaken(error));
  }
}

}  // namespace korvane
