#include "app/ImportRun.h"

#include <chrono>
#include <new>
#include <thread>

#include "app/CodiceSoggetto.h"
#include "app/PercorsiRisposta.h"
#include "config/LunghezzeColonne.h"
#include "config/QelDBUtility.h"
#include "registry/Registro.h"
#include "platform/Exception.h"

namespace korvane {

namespace {

// Inserts of a computed code that another run took first, at the most.
constexpr int kTentativiInserimento = 100;
// The pause before a code held by another run's write not yet committed is tried again.
constexpr std::chrono::milliseconds kAttesaScritturaConcorrente{20};

}  // namespace

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
  registry::CheckRegistryUrl();
  tlsWarmUp_ = registry::WarmUpTlsLibrary();

  UtenteCorrente = std::make_unique<TQelUser>();
  const std::string userDatabase = GetUserDatabasePath();
  UtenteCorrente->ConnettiDB(userDatabase);
  UtenteCorrente->SetCodiceUtente(Parametri->Utente());
  // The company of the run is the one asked for, not the one on the user's row.
  UtenteCorrente->SetDittaUtente(Parametri->Ditta());

  DBArchivio = std::make_unique<TIBDatabase>();
  const std::string archivio = UtenteCorrente->GetParamSoftDes("Archivio");
  OpenIBDatabaseFile(*DBArchivio, archivio);
  if (DBArchivio->ReadOnly()) throw Exception("Archivio in sola lettura");

  // What cannot be written fails now, before the registry is paid for an answer.
  const LunghezzeSoggetto lunghezze = LeggiLunghezzeSoggetto(*DBArchivio, Parametri->TipoSoggetto());
  config::VerificaLunghezzaTesto(Parametri->PIVA(), lunghezze.PI);
  AssegnaCodiceSoggetto(*Parametri, *DBArchivio, Codice, CaratteriRiempimento, lunghezze.Codice);

  if (tlsWarmUp_.joinable()) tlsWarmUp_.join();
  const std::string body = InterrogaRegistro(Parametri->PIVA(), Parametri->ApiToken(), ClientHTTP, GestoreSSL);
  // An answer that is not JSON parses to nothing; reading "success" then reports it.
  Risposta = ParseJSONValue(body, false, false);
  if (!GetValueAsBoolean(Risposta.get(), "success")) throw Exception("Chiamata Api fallita");

  ScriviSoggetto(lunghezze.Codice);
}

// A computed code is not reserved: another run may write it between its computation and this
// insert. Then the next code is computed and the insert tried again with the answer already
// read, never asking the registry twice. A code given on the command line is not replaced.
void ImportRun::ScriviSoggetto(std::optional<std::int32_t> lunghezzaCodice) {
  const bool calcolato = Parametri->CodiceSoggetto().empty();
  // The registry's address tells which answer format it speaks.
  const PercorsiRisposta& percorsi = PercorsiRispostaPer(registry::RegistryUrl());
  for (int tentativo = 1;; ++tentativo) {
    try {
      InserisciSoggetto(*Parametri, *DBArchivio, Risposta.get(), percorsi, Codice, SQLInserimento, Indirizzo,
                        writeLine_);
      return;
    } catch (const EScritturaFallita& error) {
      if (!calcolato || !error.ChiaveOccupata() || tentativo == kTentativiInserimento) throw;
      const std::string perso = Codice;
      // Looked at before the code is computed again, so that the computation sees it if stored.
      const bool registrato = CodiceRegistrato(*DBArchivio, Parametri->TipoSoggetto(), perso);
      AssegnaCodiceSoggetto(*Parametri, *DBArchivio, Codice, CaratteriRiempimento, lunghezzaCodice);
      if (Codice == perso) {
        // A stored code that comes again (a width that cuts the number) can never be written.
        if (registrato) throw;
        // Not stored yet: another run's insert of it has not committed. It soon will (and the
        // next computation passes it) or roll back (and the code is free).
        std::this_thread::sleep_for(kAttesaScritturaConcorrente);
      }
    }
  }
}

// Closing the archive connection ends the reads' transactions still open on it.
void ImportRun::Release() noexcept {
  if (tlsWarmUp_.joinable()) tlsWarmUp_.join();
  ClientHTTP.reset();
  GestoreSSL.reset();
  Parametri.reset();
  UtenteCorrente.reset();
  SQLInserimento.reset();
  DBArchivio.reset();
}

}  // namespace korvane
