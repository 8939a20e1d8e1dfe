#include "app/ImportRun.h"

#include <chrono>
#include <new>
#include <thread>

#include "app/CodiceSoggetto.h"
#include "app/ExistingSubject.h"
#include "app/PercorsiRisposta.h"
#include "app/VatNumber.h"
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

  // What cannot be written fails now, before the registry is paid for an answer.
  const LunghezzeSoggetto lunghezze = LeggiLunghezzeSoggetto(*DBArchivio, Parametri->TipoSoggetto());
  config::VerificaLunghezzaTesto(Parametri->PIVA(), lunghezze.PI);
  AssegnaCodiceSoggetto(*Parametri, *DBArchivio, Codice, CaratteriRiempimento, lunghezze.Codice);

  // The company's own rules, each off unless its setting turns it on.
  const bool fornitore = Parametri->TipoSoggetto() == TTipoSoggetto::tsFornitore;
  const config::SubjectSettingNames& nomi = fornitore ? config::kSupplierSettingNames : config::kCustomerSettingNames;
  const config::CompanySettings impostazioni = config::ReadCompanySettings(*DBArchivio, nomi);
  if (impostazioni.checkVatNumber && !IsValidItalianVatNumber(Parametri->PIVA())) {
    throw Exception("P.IVA " + Parametri->PIVA() + " non valida");
  }
  if (impostazioni.existingVatNumber != config::ExistingVatNumber::Import && ExistingSubjectAnswers(impostazioni, nomi)) {
    return;
  }

  if (tlsWarmUp_.joinable()) tlsWarmUp_.join();
  const std::string body = InterrogaRegistro(Parametri->PIVA(), Parametri->ApiToken(), ClientHTTP, GestoreSSL);
  // An answer that is not JSON parses to nothing; reading "success" then reports it.
  Risposta = ParseJSONValue(body, false, false);
  if (!GetValueAsBoolean(Risposta.get(), "success")) throw Exception("Chiamata Api fallita");
  if (impostazioni.refuseCeasedCompany && CompanyCeased(Risposta.get(), PercorsiRispostaPer(registry::RegistryUrl()))) {
    throw Exception("Impresa cessata (P.IVA " + Parametri->PIVA() + ")");
  }

  ScriviSoggetto(lunghezze.Codice);
}

// Takes the check's lock and looks for a subject with the run's VAT number; the lock is held until
// the insert's commit, so runs for one table check and insert one after the other. Without such a
// subject the run goes on (false). With one, "Riusa" makes its code the run's line (true) and
// "Rifiuta" ends the run; either way nothing is written.
bool ImportRun::ExistingSubjectAnswers(const config::CompanySettings& impostazioni,
                                       const config::SubjectSettingNames& nomi) {
  checkAndInsert_ = NewCheckAndInsertTransaction(*DBArchivio);
  const std::optional<std::string> esistente =
      LockAndFindSubject(*DBArchivio, *checkAndInsert_, nomi.existingVatNumber,
                         TabellaSoggetti(Parametri->TipoSoggetto()), Parametri->PIVA());
  if (!esistente) return false;
  checkAndInsert_->Rollback();
  if (impostazioni.existingVatNumber == config::ExistingVatNumber::Refuse) {
    throw Exception("P.IVA " + Parametri->PIVA() + " presente in archivio (codice " + *esistente + ")");
  }
  Codice = *esistente;
  writeLine_(Codice);
  return true;
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
                        writeLine_, checkAndInsert_.get());
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
  checkAndInsert_.reset();
  DBArchivio.reset();
}

}  // namespace korvane
