#pragma once

#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "app/InserimentoSoggetto.h"
#include "app/JsonValue.h"
#include "app/Parametri.h"
#include "config/QelUser.h"
#include "db/IBDatabase.h"
#include "db/IBSQL.h"
#include "registry/IdHTTP.h"
#include "registry/IdSSLOpenSSL.h"
#include "registry/PreparedChannel.h"
#include "registry/RegistryEndpoint.h"

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
  void ScriviSoggetto(std::optional<std::int32_t> lunghezzaCodice);
  void Release() noexcept;

  std::vector<std::string> arguments_;
  LineWriter writeLine_;
  int exitCode_ = 0;
  // Where the registry is asked, read once at the start.
  registry::RegistryEndpoint registryEndpoint_;
  // The registry's connection, prepared while the databases are opened and read.
  std::unique_ptr<registry::PreparedChannel> registryChannel_;

  // Released in this order by Release(): the connections close last.
  std::unique_ptr<TIdHTTP> ClientHTTP;
  std::unique_ptr<TIdSSLIOHandlerSocketOpenSSL> GestoreSSL;
  std::unique_ptr<TParametri> Parametri;
  std::unique_ptr<TQelUser> UtenteCorrente;
  std::unique_ptr<TIBSQL> SQLInserimento;
  std::unique_ptr<TIBDatabase> DBArchivio;

  std::string Codice;
  std::string CaratteriRiempimento;
  IndirizzoSoggetto Indirizzo;
  // The parsed registry answer, kept until the run ends.
  std::unique_ptr<TJSONValue> Risposta;
};

}  // namespace korvane
