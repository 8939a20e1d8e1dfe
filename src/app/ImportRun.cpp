#include "app/ImportRun.h"

#include <new>

#include "app/CodiceSoggetto.h"
#include "config/QelDBUtility.h"
#include "platform/Exception.h"

namespace korvane {

namespace {

// Stands in for the steps whose parts are not built yet, so that no run pretends to succeed.
[[noreturn]] void NotBuiltYet(std::string_view capability) {
  throw Exception(std::string(capability) + " is not built yet");
}

}  // namespace

ImportRun::ImportRun(std::vector<std::string> arguments, LineWriter writeLine)
    : arguments_(std::move(arguments)), writeLine_(std::move(writeLine)) {}

ImportRun::~ImportRun() { Release(); }

int ImportRun::Execute() {
  exitCode_ = 0;
  Parametri = std::make_unique<TParametri>(arguments_);
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

  NotBuiltYet("The registry request");
}

// Closing the archive connection ends the reads' transactions still open on it.
void ImportRun::Release() noexcept {
  Parametri.reset();
  UtenteCorrente.reset();
  DBArchivio.reset();
}

}  // namespace korvane
