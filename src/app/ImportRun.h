#pragma once

#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <thread>
#include <vector>

#include "app/InserimentoSoggetto.h"
#include "app/JsonValue.h"
#include "app/Parametri.h"
#include "config/CompanySettings.h"
#include "config/QelUser.h"
#include "db/IBDatabase.h"
#include "db/IBSQL.h"
#include "registry/IdHTTP.h"
#include "registry/IdSSLOpenSSL.h"

namespace korvane {

// One run of the tool: reads the switches, creates one subject record from the registry's
// answer and writes exactly one line (the new code, or the message of the error that ended
// the run). Owns everything it creates and releases it in a fixed order.
class ImportRun {
 public:
  using LineWriter = std::function<void(std::string_view)>;

  ImportRun(std::vector<std::string> arguments, LineWriter writeLine);
  ~ImportRun();
  ImportRun(const ImportRun&) = delete;
  ImportRun& operator=(const ImportRun&) = delete;

  // Runs every step and returns the exit code: 0 when the record was written, else 1.
  int Execute();

 private:
  void RunSteps();
  bool ExistingSubjectAnswers(const config::CompanySettings& impostazioni, const config::SubjectSettingNames& nomi);
  void ScriviSoggetto(std::optional<std::int32_t> lunghezzaCodice);
  void Release() noexcept;

  std::vector<std::string> arguments_;
  LineWriter writeLine_;
  int exitCode_ = 0;
  // Readies the TLS library while the databases are opened and read; joined before the
  // registry is asked and at release.
  std::jthread tlsWarmUp_;

  // Released in this order by Release(): the connections close last.
  std::unique_ptr<TIdHTTP> ClientHTTP;
  std::unique_ptr<TIdSSLIOHandlerSocketOpenSSL> GestoreSSL;
  std::unique_ptr<TParametri> Parametri;
  std::unique_ptr<TQelUser> UtenteCorrente;
  std::unique_ptr<TIBSQL> SQLInserimento;
  // The transaction of the existing-subject check and the insert, for runs whose company asks for
  // that check.
  std::unique_ptr<TIBTransaction> checkAndInsert_;
  std::unique_ptr<TIBDatabase> DBArchivio;

  std::string Codice;
  std::string CaratteriRiempimento;
  IndirizzoSoggetto Indirizzo;
  // The parsed registry answer, kept until the run ends.
  std::unique_ptr<TJSONValue> Risposta;
};

}  // namespace korvane
