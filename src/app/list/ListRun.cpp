#include "app/list/ListRun.h"

#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <filesystem>
#include <map>
#include <memory>
#include <optional>
#include <thread>

#include "app/list/ListNumbers.h"
#include "app/list/ListReport.h"
#include "app/list/RunProgress.h"
#include "app/run/Session.h"
#include "app/run/SubjectImport.h"
#include "app/run/WrittenBase.h"
#include "app/subject/ExistingSubject.h"
#include "config/ReadTransaction.h"
#include "platform/Exception.h"
#include "platform/Process.h"
#include "platform/Trace.h"
#include "store/AnswerStore.h"

namespace korvane {

namespace {

// A temporary failure is tried this many times in all, waiting longer each time.
constexpr int kTriesOfTemporaryFailure = 3;
constexpr std::chrono::seconds kFirstRetryWait{1};

// The state a row has in the store while its request is out: a later run that finds it looks
// the number up in the archive before paying again.
constexpr const char* kRequestSent = "richiesta inviata";

std::int64_t NowUnix() {
  return std::chrono::duration_cast<std::chrono::seconds>(std::chrono::system_clock::now().time_since_epoch()).count();
}

// How a failed import's message weighs on the list.
enum class FailureKind {
  Row,        // this row only
  Invalid,    // the number is not one the registry knows
  Temporary,  // worth another try later
  WholeRun,   // no later row can succeed either
};

FailureKind KindOfFailure(const std::string& message) {
  const auto has = [&](std::string_view part) { return message.find(part) != std::string::npos; };
  if (message.starts_with("HTTP/1.1 401") || message.starts_with("HTTP/1.1 402") ||
      message.starts_with("HTTP/1.1 403") || has("Limite giornaliero") || has("Giornale delle richieste") ||
      has("Il database non risponde") || has("Esito della scrittura non verificabile") ||
      has("Operazione interrotta") || has("Archivio delle risposte non utilizzabile")) {
    return FailureKind::WholeRun;
  }
  if (message.starts_with("HTTP/1.1 429") || message.starts_with("HTTP/1.1 5") || has("Socket Error") ||
      has("timed out") || has("Connection Closed") || has("Error connecting with SSL") || has("Archivio occupato")) {
    return FailureKind::Temporary;
  }
  if (message.starts_with("HTTP/1.1 400") || message.starts_with("HTTP/1.1 404") ||
      message.starts_with("HTTP/1.1 406") || has("non valida") || has("non riconosciuta")) {
    return FailureKind::Invalid;
  }
  return FailureKind::Row;
}

bool IsSettled(RowOutcome outcome) { return !IsToTryAgain(outcome); }

char KindLetter(TTipoSoggetto kind) { return kind == TTipoSoggetto::tsFornitore ? 'F' : 'C'; }

// The sessions of a list: the command line's kind first, another kind's when a row asks for it.
class ListSessions {
 public:
  ListSessions(const SessionInputs& inputs, std::string programFile)
      : inputs_(inputs), programFile_(std::move(programFile)) {}
  ~ListSessions() {
    for (auto& [kind, session] : sessions_) session->Release();
  }
  ListSessions(const ListSessions&) = delete;
  ListSessions& operator=(const ListSessions&) = delete;

  Session& For(char kind) {
    auto& session = sessions_[kind];
    if (!session) {
      session = std::make_unique<Session>();
      SessionInputs inputs = inputs_;
      inputs.tipoSoggetto = kind == 'F' ? TTipoSoggetto::tsFornitore : TTipoSoggetto::tsCliente;
      try {
        session->Open(std::move(inputs), programFile_);
      } catch (...) {
        session->Release();
        sessions_.erase(kind);
        throw;
      }
    }
    return *session;
  }

 private:
  SessionInputs inputs_;
  std::string programFile_;
  std::map<char, std::unique_ptr<Session>> sessions_;
};

// The code of a subject of the session's kind that holds the number already.
std::optional<std::string> StoredCode(Session& session, const std::string& vatNumber) {
  return config::ReadAsTheLockWaits(session.Archive(), [&](TIBSQL& sql) {
    return FindSubjectByVatNumber(session.Archive(), *sql.Transaction(), session.Kind().table, vatNumber);
  });
}

std::string Summary(const std::vector<ReportRow>& rows, std::int64_t paid, const std::string& where) {
  std::map<RowOutcome, int> counts;
  for (const ReportRow& row : rows) ++counts[row.outcome];
  return "Lista: " + std::to_string(rows.size()) + " righe, " + std::to_string(counts[RowOutcome::Imported]) +
         " importate, " + std::to_string(counts[RowOutcome::AlreadyPresent]) + " gi\xC3\xA0 presenti, " +
         std::to_string(counts[RowOutcome::Reused]) + " riusate, " + std::to_string(counts[RowOutcome::Invalid]) +
         " non valide, " + std::to_string(counts[RowOutcome::Duplicate]) + " duplicate, " +
         std::to_string(counts[RowOutcome::Refused]) + " rifiutate, " + std::to_string(counts[RowOutcome::Retry]) +
         " da riprovare, " + std::to_string(counts[RowOutcome::NotTried]) + " non tentate; " + std::to_string(paid) +
         " richieste pagate; " + where;
}

int ExitCodeOf(const std::vector<ReportRow>& rows, bool stopped) {
  if (stopped) return kListStoppedEarly;
  for (const ReportRow& row : rows) {
    if (row.outcome != RowOutcome::Imported && row.outcome != RowOutcome::AlreadyPresent &&
        row.outcome != RowOutcome::Reused && row.outcome != RowOutcome::Duplicate) {
      return kListSomeNotImported;
    }
  }
  return kListAllSettled;
}

}  // namespace

namespace {

// One list run, from its inputs to its summary.
class ListRunner {
 public:
  ListRunner(const ListInputs& inputs, const std::string& programFile)
      : inputs_(inputs), sessions_(SessionFor(inputs), programFile) {}

  RunOutcome Run() {
    const ListFile list = ReadListFile(inputs_.listPath);
    const std::vector<ListNumber> numbers = CheckListNumbers(list.entries);
    // The store is needed before anything is paid; a plan only reads one that exists.
    if (!inputs_.preview || platform::FileExists(inputs_.storePath)) {
      store_ = std::make_unique<store::AnswerStore>(inputs_.storePath);
    }
    sessions_.For(KindLetter(inputs_.session.tipoSoggetto));
    std::map<std::int64_t, store::ListRowRecord> earlier;
    if (store_) {
      const std::string key = ListKey();
      if (inputs_.preview) {
        listId_ = 0;
      } else {
        listId_ = store_->ListId(key, NowUnix());
        for (store::ListRowRecord& row : store_->ListRows(listId_)) earlier[row.line] = std::move(row);
      }
    }
    return inputs_.preview ? Plan(numbers) : Import(list, numbers, earlier);
  }

 private:
  // A plan writes nothing: not even the ledger's file (the daily limit is still compared).
  static SessionInputs SessionFor(const ListInputs& inputs) {
    SessionInputs session = inputs.session;
    if (inputs.preview) session.options.ledger.path.clear();
    return session;
  }

  std::string ListKey() const {
    std::error_code error;
    const std::string absolute = std::filesystem::absolute(inputs_.listPath, error).string();
    return absolute + "|" + std::to_string(inputs_.session.user) + "|" + inputs_.session.company + "|" +
           KindLetter(inputs_.session.tipoSoggetto);
  }

  char KindOf(const ListNumber& number) const { return number.kind.value_or(KindLetter(inputs_.session.tipoSoggetto)); }

  static ReportRow RowOf(const ListNumber& number) {
    ReportRow row;
    row.line = number.entry.line;
    row.value = number.entry.value;
    row.vatNumber = number.vatNumber;
    row.message = number.message;
    if (number.verdict == ListVerdict::Invalid) row.outcome = RowOutcome::Invalid;
    if (number.verdict == ListVerdict::Duplicate) row.outcome = RowOutcome::Duplicate;
    return row;
  }

  // The free plan: what each row would cost, and whether the run would fit its limits.
  RunOutcome Plan(const std::vector<ListNumber>& numbers) {
    std::int64_t toPay = 0;
    std::string lines;
    for (const ListNumber& number : numbers) {
      std::string plan;
      if (number.verdict == ListVerdict::Invalid) {
        plan = "non valido: " + number.message;
      } else if (number.verdict == ListVerdict::Duplicate) {
        plan = "duplicato della riga " + std::to_string(number.firstLine);
      } else if (const auto code = StoredCode(sessions_.For(KindOf(number)), number.vatNumber)) {
        plan = "gi\xC3\xA0 presente (codice " + *code + ")";
      } else {
        ++toPay;
        plan = number.repaired ? "da pagare (P.IVA completata con gli zeri iniziali)" : "da pagare";
      }
      lines += "Riga " + std::to_string(number.entry.line) + " " + number.vatNumber + ": " + plan + "\r\n";
    }
    std::string total =
        "Anteprima: " + std::to_string(numbers.size()) + " righe, " + std::to_string(toPay) + " richieste da pagare";
    if (inputs_.requestPrice) {
      char cost[64];
      std::snprintf(cost, sizeof cost, "%.2f", static_cast<double>(toPay) * *inputs_.requestPrice);
      std::string euro = cost;
      std::replace(euro.begin(), euro.end(), '.', ',');
      total += " (" + euro + " euro)";
    }
    bool fits = true;
    if (inputs_.maxRequests && toPay > *inputs_.maxRequests) {
      fits = false;
      total += "; oltre --max-richieste " + std::to_string(*inputs_.maxRequests);
    }
    const auto& limit = inputs_.session.options.ledger.dailyLimit;
    if (limit && toPay > *limit) {
      fits = false;
      total += "; oltre il limite giornaliero " + std::to_string(*limit);
    }
    total += fits ? "; nulla inviato" : "; la lista non starebbe nei limiti, nulla inviato";
    return {lines + total, fits ? kListAllSettled : kListStoppedEarly};
  }

  RunOutcome Import(const ListFile& list, const std::vector<ListNumber>& numbers,
                    const std::map<std::int64_t, store::ListRowRecord>& earlier) {
    std::vector<ReportRow> rows;
    rows.reserve(numbers.size());
    const RunProgress progress(numbers.size(), "righe");
    std::int64_t paid = 0;
    std::optional<std::string> stop;
    for (const ListNumber& number : numbers) {
      ReportRow row = RowOf(number);
      const auto before = earlier.find(number.entry.line);
      const bool known = before != earlier.end() && before->second.vatNumber == number.vatNumber;
      if (number.verdict != ListVerdict::ToImport) {
        // settled by reading the file
      } else if (known && OutcomeFromWord(before->second.state) && IsSettled(*OutcomeFromWord(before->second.state))) {
        row.outcome = *OutcomeFromWord(before->second.state);
        row.code = before->second.code;
        row.message = before->second.message;
        row.paid = before->second.paid;
      } else if (stop) {
        row.outcome = RowOutcome::NotTried;
        row.message = *stop;
      } else {
        try {
          paid += ImportRow(number, row, stop);
        } catch (const Exception& error) {
          // A look-up or another kind's session that fails ends this row (or, by its kind, the
          // run), never the report.
          row.message = error.Message();
          row.outcome =
              KindOfFailure(error.Message()) == FailureKind::Temporary ? RowOutcome::Retry : RowOutcome::Refused;
          if (KindOfFailure(error.Message()) == FailureKind::WholeRun) {
            row.outcome = RowOutcome::NotTried;
            stop = error.Message();
          }
        }
      }
      if (number.verdict == ListVerdict::ToImport) {
        try {
          Record(row);
        } catch (const Exception& error) {
          // Without the store a later run could pay again for what this one did: stop here.
          if (!stop) stop = error.Message();
        }
      }
      rows.push_back(std::move(row));
      progress.Show(rows.size(), paid);
    }
    const std::string reportPath =
        inputs_.reportPath.empty() ? DefaultReportPath(inputs_.listPath) : inputs_.reportPath;
    std::vector<std::int64_t> again;
    for (const ReportRow& row : rows) {
      if (IsToTryAgain(row.outcome)) again.push_back(row.line);
    }
    std::string where = "rapporto " + reportPath;
    int exitCode = ExitCodeOf(rows, stop.has_value());
    try {
      WriteListReport(reportPath, rows);
      if (!again.empty()) {
        const std::string retryPath = RetryFilePath(inputs_.listPath, list.form);
        WriteRetryFile(retryPath, list, again);
        where += ", da riprovare " + retryPath;
      }
    } catch (const Exception& error) {
      where = error.Message();
      exitCode = std::max(exitCode, kListSomeNotImported);
    }
    return {Summary(rows, paid, where) + (stop ? " (interrotta: " + *stop + ")" : ""), exitCode};
  }

  // Imports one row: already in the archive, or paid for (temporary failures tried again).
  // Returns the requests paid.
  std::int64_t ImportRow(const ListNumber& number, ReportRow& row, std::optional<std::string>& stop) {
    Session& session = sessions_.For(KindOf(number));
    if (const auto code = StoredCode(session, number.vatNumber)) {
      row.outcome = RowOutcome::AlreadyPresent;
      row.code = *code;
      return 0;
    }
    if (inputs_.maxRequests && requests_ >= *inputs_.maxRequests) {
      stop = "limite di richieste della lista raggiunto (--max-richieste " + std::to_string(*inputs_.maxRequests) + ")";
      row.outcome = RowOutcome::NotTried;
      row.message = *stop;
      return 0;
    }
    std::int64_t paid = 0;
    auto wait = kFirstRetryWait;
    for (int attempt = 1;; ++attempt) {
      row.outcome = RowOutcome::NotTried;
      Record(row, kRequestSent);
      ++requests_;
      platform::RunGate gate;
      const RunOutcome outcome = ImportSubject(session, {number.vatNumber, number.entry.givenCode}, gate);
      if (outcome.exitCode == 0) {
        row.outcome = RowOutcome::Imported;
        row.code = outcome.line;
        row.paid = true;
        RecordWritten(session, number, row.code);
        return paid + 1;
      }
      row.message = outcome.line;
      const FailureKind kind = KindOfFailure(outcome.line);
      if (kind == FailureKind::Temporary && attempt < kTriesOfTemporaryFailure) {
        platform::trace::Step("list row " + std::to_string(row.line) + ": " + outcome.line + ", tried again");
        std::this_thread::sleep_for(wait);
        wait *= 2;
        continue;
      }
      switch (kind) {
        case FailureKind::Temporary: row.outcome = RowOutcome::Retry; break;
        case FailureKind::Invalid: row.outcome = RowOutcome::Invalid; break;
        case FailureKind::Row: row.outcome = RowOutcome::Refused; break;
        case FailureKind::WholeRun:
          row.outcome = RowOutcome::NotTried;
          stop = outcome.line;
          break;
      }
      return paid;
    }
  }

  void Record(const ReportRow& row, std::string_view state = {}) {
    if (!store_) return;
    store_->SaveListRow(
        listId_,
        {row.line, row.value, row.vatNumber, state.empty() ? std::string(OutcomeWord(row.outcome)) : std::string(state),
         row.code, row.message, row.paid, std::nullopt},
        NowUnix());
  }

  // The values the row holds right after its commit: the base a later refresh compares with.
  void RecordWritten(Session& session, const ListNumber& number, const std::string& code) {
    if (!store_) return;
    try {
      RecordInsertedBase(*store_, session, code, number.vatNumber);
    } catch (const Exception& error) {
      // The row is committed: a base not recorded only leaves the refresh without it.
      platform::trace::Step("list row " + std::to_string(number.entry.line) +
                            ": base not recorded: " + error.Message());
    }
  }

  const ListInputs& inputs_;
  ListSessions sessions_;
  std::unique_ptr<store::AnswerStore> store_;
  std::int64_t listId_ = 0;
  std::int64_t requests_ = 0;
};

}  // namespace

RunOutcome RunList(const ListRequest& request, const std::string& programFile) {
  if (!request.inputs) return {request.refusal, kListCouldNotStart};
  std::optional<ListRunner> runner;
  RunOutcome started = CatchOutcome([&] {
    runner.emplace(*request.inputs, programFile);
    return RunOutcome{{}, 0};
  });
  if (!runner) return {started.line, kListCouldNotStart};
  // What fails before the first row (the file, the store, the session) means nothing could start.
  bool rowsBegun = false;
  RunOutcome outcome = CatchOutcome([&] {
    RunOutcome result = runner->Run();
    rowsBegun = true;
    return result;
  });
  if (!rowsBegun) outcome.exitCode = kListCouldNotStart;
  return outcome;
}

}  // namespace korvane
