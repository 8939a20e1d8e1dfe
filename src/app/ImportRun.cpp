#include "app/ImportRun.h"

#include <new>

#include "app/CodiceSoggetto.h"
#include "app/PercorsiRisposta.h"
#include "config/QelDBUtility.h"
#include "registry/Registro.h"
#include "platform/Exception.h"

namespace korvane {

ImportRun::ImportRun(std::vector<std::string> arguments, LineWriter writeLine)
    : arguments_(std::move(arguments)), writeLine_(std::move(writeLine)) {}

ImportRun::~ImportRun() { Release(); }

int ImportRun::Execute() {
  exitCode_ = 0;
  Parametri = std::make_unique<TParametri>(arguments_, ApiTokenFromEnvironment());
  try {
    RunSteps();
  } catch (const Exception& error) {
    exitCode_ = 1;
    writeLine_(error.Message());
  } catch (const std::bad_alloc&) {
    exitCode_ = 1;
    writeLine_("Out of memory");
  } catch (const std::exception& error) {
    exitCode_ = 1;
    writeLine_(error.what());
  }
  Release();
  return exitCode_;
}

void ImportRun::RunSteps() {
  Parametri->ReadFromCmdLine();
  Parametri->Check();
  CheckRegistryUrl();

  UtenteCorrente = std::make_unique<TQelUser>();
  const std::string userDatabase = GetUserDatabasePath();
  UtenteCorrente->ConnettiDB(userDatabase);
  UtenteCorrente->SetCodiceUtente(Parametri->Utente());
  // The company of the run is the one asked for, not the one on the user's row.
  UtenteCorrente->SetDittaUtente(Parametri->Ditta());

  DBArchivio = std::make_unique<TIBDatabase>();
  const std::string archivio = UtenteCorrente->GetParamSoftDes("Archivio");
  OpenIBDatabaseFile(*DBArchivio, archivio);

  AssegnaCodiceSoggetto(*Parametri, *DBArchivio, Codice, CaratteriRiempimento);

  const std::string body = InterrogaRegistro(Parametri->PIVA(), Parametri->ApiToken(), ClientHTTP, GestoreSSL);
  // An answer that is not JSON parses to nothing; reading "success" then reports it.
  Risposta = ParseJSONValue(body, false, false);
  if (!GetValueAsBoolean(Risposta.get(), "success")) throw Exception("Chiamata Api fallita");

  // The registry's address tells which answer format it speaks.
  InserisciSoggetto(*Parametri, *DBArchivio, Risposta.get(), PercorsiRispostaPer(RegistryUrl()), Codice,
                    SQLInserimento, Indirizzo, writeLine_);
}

// Closing the archive connection ends the reads' transactions still open on it.
void ImportRun::Release() noexcept {
  ClientHTTP.reset();
  GestoreSSL.reset();
  Parametri.reset();
  UtenteCorrente.reset();
  SQLInserimento.reset();
  DBArchivio.reset();
}

}  // namespace korvane
