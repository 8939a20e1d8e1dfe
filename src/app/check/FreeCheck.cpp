#include "app/check/FreeCheck.h"

#include <filesystem>
#include <functional>
#include <optional>

#include "app/check/CheckReport.h"
#include "app/inputs/Parametri.h"
#include "app/inputs/RunOptions.h"
#include "app/run/Assessment.h"
#include "app/run/Session.h"
#include "app/subject/ExistingSubject.h"
#include "app/subject/SubjectCode.h"
#include "app/subject/VatNumber.h"
#include "config/TableRights.h"
#include "config/WriteLock.h"
#include "db/CallBound.h"
#include "platform/Exception.h"
#include "platform/MessageText.h"

namespace korvane {

namespace {

// The ledger opened as a run opens it; one not there yet is not made (the check writes nothing):
// its folder must be there.
std::string CheckLedger(const LedgerOptions& options) {
  // The path comes from outside: shown as the run's messages show it.
  const std::string shown = platform::OutsideTextForMessage(options.path);
  std::error_code error;
  if (std::filesystem::symlink_status(options.path, error).type() != std::filesystem::file_type::not_found) {
    RequestLedger ledger(options);
    return shown;
  }
  const std::filesystem::path folder = std::filesystem::path(options.path).parent_path();
  if (!folder.empty() && !std::filesystem::is_directory(folder, error)) {
    throw Exception("Giornale delle richieste non scrivibile (" + shown + ": No such file or directory)");
  }
  return shown + " (sarà creato)";
}

// What a run would do with a VAT number the archive already holds.
std::string StoredVatNumber(Session& session, const VatNumber& piva) {
  const std::optional<std::string> existing = ReadStoredSubject(session, piva);
  if (!existing) return "non presente in archivio";
  // "Rifiuta" raises the run's refusal.
  if (const std::optional<std::string> answer = StoredSubjectAnswer(session, piva, *existing)) {
    return "presente in archivio (codice " + *answer + "): un'importazione stamperebbe " + *answer +
           " senza chiedere al registro";
  }
  return "presente in archivio (codice " + *existing + "): un'importazione ne scriverebbe un altro";
}

}  // namespace

FreeCheckResult RunFreeCheck(std::vector<std::string> arguments, const platform::EnvironmentLookup& environment,
                             const std::string& programFile) {
  CheckReport report;
  TParametri parametri(std::move(arguments), ApiTokenFrom(environment));
  SessionInputs inputs;
  const bool told = report.Check("parametri", [&] {
    parametri.ReadFromCmdLine();
    parametri.CheckSession();
    inputs.user = parametri.Utente();
    inputs.company = parametri.Ditta();
    inputs.tipoSoggetto = parametri.TipoSoggetto();
    inputs.apiToken = parametri.ApiToken();
    inputs.options = ReadRunOptions(environment);
    return std::string();
  });
  if (!told) return {report.Text(), report.ExitCode()};
  const VatNumber& vatNumber = parametri.PIVA();
  const std::string& piva = vatNumber.Cleaned();
  const bool withVatNumber = !piva.empty();

  report.Check("token del registro", [&] {
    parametri.CheckApiToken();
    return std::string();
  });
  const LedgerOptions ledger = inputs.options.ledger;
  if (!ledger.path.empty()) report.Check("giornale delle richieste", [&] { return CheckLedger(ledger); });
  // The session without its ledger: the check records nothing.
  inputs.options.ledger = {};
  Session session;
  session.Start(inputs);
  const std::string user = "utente " + std::to_string(inputs.user);
  const std::string company = "archivio della ditta " + inputs.company;
  if (report.Check(user,
                   [&] {
                     session.OpenUser(programFile);
                     return std::string();
                   }) &&
      report.Check(company, [&] {
        session.OpenArchive();
        return session.Archive().DatabaseName();
      })) {
    // Every check from here reads the archive: a call that goes unanswered names that step, as a
    // run's does.
    const db::CallPurpose readingArchive("lettura dell'archivio");
    const SubjectKind& kind = session.Kind();
    TIBDatabase& archive = session.Archive();
    // A call given up closes its connection: the checks after it are not made, and say why in the
    // run's words, not the library's ("DB is not open").
    const auto checkArchive = [&](std::string_view what, const std::function<std::string()>& check) {
      if (archive.Connected()) return report.Check(what, check);
      report.Fail(what, db::NoAnswerMessage("lettura dell'archivio"));
      return false;
    };
    checkArchive("prossimo codice",
                 [&] { return SettleSubjectCode(inputs.tipoSoggetto, {}, archive, session.Lengths().code).Codice; });
    const bool rules = checkArchive("impostazioni della ditta", [&] {
      session.Rules();
      return std::string();
    });
    checkArchive(std::string("permesso di inserimento in ") + kind.table, [&] {
      config::CheckInsertRight(archive, kind.table);
      return std::string();
    });
    if (rules && session.Rules().ChecksStoredVatNumber()) {
      checkArchive(std::string("blocco di scrittura (") + kind.existingVatSetting + ")", [&] {
        config::WriteLock lock(archive, kind.existingVatSetting);
        lock.Take();
        lock.Release();
        return std::string();
      });
    }
    if (withVatNumber) {
      const std::string what = "partita IVA " + piva;
      if (report.Check(what,
                       [&] {
                         parametri.CheckVatNumber();
                         config::CheckTextLength(piva, session.Lengths().vatNumber);
                         if (rules) CheckVatNumberDigits(session, vatNumber);
                         return std::string();
                       }) &&
          rules) {
        checkArchive("ricerca della " + what, [&] { return StoredVatNumber(session, vatNumber); });
      }
    }
  } else if (withVatNumber) {
    report.Check("partita IVA " + piva, [&] {
      parametri.CheckVatNumber();
      return std::string();
    });
  }
  const std::string host = inputs.options.registryEndpoint.Address().host;
  report.Check("connessione al registro " + host, [&] {
    session.Registry().ProbeChannel();
    return std::string();
  });
  return {report.Text(), report.ExitCode()};
}

}  // namespace korvane
