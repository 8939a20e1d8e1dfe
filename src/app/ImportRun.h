#pragma once

#include <memory>
#include <string>
#include <vector>

#include "app/JsonValue.h"
#include "app/Parametri.h"
#include "app/RunInputs.h"
#include "app/SubjectCode.h"
#include "app/SubjectInsert.h"
#include "app/SubjectRow.h"
#include "config/QelUser.h"
#include "db/IBDatabase.h"
#include "db/IBTransaction.h"
#include "platform/Process.h"
#include "platform/StopSignals.h"
#include "registry/PreparedChannel.h"
#include "registry/Registro.h"

namespace korvane {

// How a run ended: the one line to print (the new code, or the message of the error that ended
// the run) and the exit code, 0 when the record was committed, else 1.
struct RunOutcome {
  std::string line;
  int exitCode = 1;
};

// One run of the tool: reads the switches, creates one subject record from the registry's answer
// and tells how it went. Owns everything it creates and releases it in a fixed order; main prints
// the line between the two, so that nothing the release meets can cost the line.
class ImportRun {
 public:
  // `gate` learns when the commit is sent and when the outcome is settled (main hands in the
  // process's, which its stop signals consult); the users database is found from `programFile`.
  ImportRun(std::vector<std::string> arguments, EnvironmentLookup environment, platform::RunGate& gate,
            std::string programFile = platform::ProgramFilePath());
  ~ImportRun();
  ImportRun(const ImportRun&) = delete;
  ImportRun& operator=(const ImportRun&) = delete;

  // Runs every step and settles the outcome; releases nothing. Once the insert's commit has
  // succeeded the outcome is success, whatever happens after it: a caller that retries on failure
  // would store the subject twice. From its return a stop signal ends the process with the
  // outcome's exit code.
  RunOutcome Execute();
  // Releases what the run created, in the run's fixed order (the connections close last); also
  // done by the destructor. Never throws.
  void Release() noexcept;

 private:
  // The steps in their fixed order; the code written is in code_.
  void RunSteps();
  // Writes the row; a computed code that another run wrote first is replaced by the next free
  // one and the write tried again, without asking the registry again.
  void WriteWithRetries(const SubjectRow& row);
  // After the connection went away under the write: returns when a new attachment finds the row
  // committed, raises `lost` when it finds no row, and "Esito della scrittura non verificabile"
  // when it cannot look.
  void ConfirmLostWrite(const WriteFailed& lost);
  // The existing-subject check of a company that asks for it, before the registry call without a
  // lock, or under the lock in checkAndInsert_ (started by the call): true when its answer ends
  // the run with that subject's code.
  bool ExistingSubjectAnswers(bool underLock);
  // True when the company's settings ask what to do with a VAT number the table already holds.
  bool ChecksStoredVatNumber() const;

  std::vector<std::string> arguments_;
  EnvironmentLookup environment_;
  platform::RunGate& gate_;
  std::string programFile_;
  // What the run was told, read once after the command line's check; the company's rules join it
  // once the archive is open.
  RunInputs inputs_;
  SubjectCode code_;
  bool committed_ = false;
  // The registry's connection, prepared while the databases are opened and read.
  std::unique_ptr<registry::PreparedChannel> registryChannel_;

  // Released in this order by Release(): the connections close last.
  // The HTTP client and its TLS handler, released in that order.
  std::unique_ptr<RegistryClient> registryClient_;
  std::unique_ptr<TParametri> Parametri;
  std::unique_ptr<TQelUser> UtenteCorrente;
  // The insert statement (SQLInserimento) and its transaction.
  std::unique_ptr<SubjectInsert> insert_;
  // The transaction of the existing-subject check under the lock and of the insert, for runs whose
  // company asks for that check.
  std::unique_ptr<TIBTransaction> checkAndInsert_;
  std::unique_ptr<TIBDatabase> DBArchivio;

  // The parsed registry answer, kept until the run ends.
  std::unique_ptr<TJSONValue> answer_;
};

}  // namespace korvane
