#include "app/refresh/RefreshRun.h"

#include <algorithm>
#include <chrono>
#include <cstdint>
#include <cstdio>
#include <map>
#include <thread>

#include "app/list/ListInputs.h"
#include "app/list/ListRun.h"
#include "app/list/RowFailure.h"
#include "app/list/RunProgress.h"
#include "app/refresh/ChangesWrite.h"
#include "app/refresh/DifferencesReport.h"
#include "app/refresh/SubjectComparison.h"
#include "app/run/PaidRequest.h"
#include "app/run/Session.h"
#include "app/run/WrittenBase.h"
#include "app/subject/SubjectInsert.h"
#include "app/subject/VatNumber.h"
#include "config/EInvoiceColumns.h"
#include "config/TableRights.h"
#include "platform/Exception.h"
#include "platform/Process.h"
#include "platform/StopSignals.h"
#include "platform/Trace.h"
#include "store/AnswerStore.h"

namespace korvane {

namespace {

// What became of one subject, counted in the summary line.
enum class SubjectOutcome {
  Unchanged,         // compared (or applied) with nothing to write
  WithChanges,       // compared, with changes an apply would write
  Applied,           // its changes written
  AlreadyApplied,    // its last comparison was applied by an earlier run
  ChangedMeanwhile,  // its row changed since the comparison: nothing written
  NoComparison,      // an apply without a kept comparison of it
  NotFound,          // a code the table lacks
  Failed,            // an answer or a comparison that could not be read, a refused request
  NotTried,          // the run stopped before it
};

// A temporary failure is asked this many times in all, as a list asks it, waiting longer each
// time, or as long as the registry's Retry-After asks within kLongestRetryWait.
constexpr int kTriesOfTemporaryFailure = 3;
constexpr std::chrono::seconds kFirstRetryWait{1};
constexpr std::chrono::seconds kLongestRetryWait{60};
// How often a wait looks for a stop signal.
constexpr std::chrono::milliseconds kStopLook{100};

// The words of a subject's state in the report.
constexpr const char* kNotFound = "codice non trovato";
constexpr const char* kNoVatNumber = "senza partita IVA";
constexpr const char* kChangedMeanwhile = "modificato nel frattempo";
constexpr const char* kApplied = "aggiornato";
constexpr const char* kAlreadyApplied = "gi\xC3\xA0 applicato";
constexpr const char* kNoComparison = "nessun confronto da applicare";
constexpr const char* kNotTried = "non tentato";

std::int64_t NowUnix() {
  return std::chrono::duration_cast<std::chrono::seconds>(std::chrono::system_clock::now().time_since_epoch()).count();
}

// A failure after which no later subject can do better: the store or the archive out of use.
bool EndsTheRun(const std::string& message) {
  return message.find("Archivio delle risposte non utilizzabile") != std::string::npos ||
         message.find("Il database non risponde") != std::string::npos;
}

std::string Euro(double amount) {
  char text[64];
  std::snprintf(text, sizeof text, "%.2f", amount);
  std::string euro = text;
  std::replace(euro.begin(), euro.end(), '.', ',');
  return euro;
}

// A field locked since the comparison is only reported by the apply.
void ApplyLocks(SubjectComparison& comparison, const FieldLocks& locks) {
  for (FieldComparison& field : comparison.fields) {
    if (MergeWrites(field.action) && locks.Locked(comparison.code, field.field)) field.action = MergeAction::Locked;
  }
}

class RefreshRunner {
 public:
  RefreshRunner(const RefreshInputs& inputs, const std::string& programFile)
      : inputs_(inputs), gate_(platform::ProcessRunGate()) {
    SessionInputs session = inputs.session;
    // A plan writes nothing: not even the ledger's file.
    if (inputs.preview) session.options.ledger.path.clear();
    session_.Open(std::move(session), programFile);
  }
  ~RefreshRunner() { session_.Release(); }
  RefreshRunner(const RefreshRunner&) = delete;
  RefreshRunner& operator=(const RefreshRunner&) = delete;

  RunOutcome Run() {
    table_ = session_.Kind().table;
    // The right to change rows is checked before anything else, as an import checks its insert.
    if (inputs_.apply) config::CheckUpdateRight(session_.Archive(), table_);
    if (!inputs_.preview || platform::FileExists(inputs_.storePath)) {
      store_ = std::make_unique<store::AnswerStore>(inputs_.storePath);
    }
    locks_ = inputs_.locksPath.empty() ? FieldLocks() : FieldLocks::FromFile(inputs_.locksPath);
    place_ = {inputs_.session.company, session_.Archive().DatabaseName(),
              session_.Inputs().tipoSoggetto == TTipoSoggetto::tsFornitore ? 'F' : 'C'};
    if (!inputs_.apply && !inputs_.preview) {
      // The settings are checked before the first subject, as an import checks them before paying.
      const config::EInvoiceColumns& eInvoice = session_.Rules().eInvoiceColumns;
      columns_ = ComparedColumns(eInvoice);
      activityMark_ = ReadActivityMark(eInvoice);
      if (activityMark_) columns_.push_back(activityMark_->name);
    }
    const std::vector<ChosenSubject> subjects = ChooseSubjects(session_, inputs_.selection);
    return inputs_.preview ? Plan(subjects) : Refresh(subjects);
  }

 private:
  // The company's column for the mark of a company not active, when its setting names one: a text
  // column long enough for every mark, none of those the import or the e-invoicing settings write.
  std::optional<config::CompanyColumn> ReadActivityMark(const config::EInvoiceColumns& eInvoice) {
    std::vector<std::string_view> excluded(kInsertedColumns.begin(), kInsertedColumns.end());
    if (eInvoice.recipientCode) excluded.push_back(eInvoice.recipientCode->name);
    if (eInvoice.pec) excluded.push_back(eInvoice.pec->name);
    auto column = config::ReadCompanyColumn(session_.Archive(), table_, session_.Kind().activityMarkSetting, excluded,
                                            kActivityMarkLength);
    if (column) platform::trace::Step(std::string("activity mark in ") + column->name);
    return column;
  }

  std::optional<store::StoredAnswer> YoungAnswer(const std::string& vatNumber) const {
    if (!store_ || vatNumber.empty()) return std::nullopt;
    return store_->LatestAnswer(vatNumber, NowUnix() - inputs_.answerAgeDays * 86400);
  }

  RunOutcome Plan(const std::vector<ChosenSubject>& subjects) const {
    std::int64_t stored = 0;
    std::int64_t toPay = 0;
    for (const ChosenSubject& subject : subjects) {
      if (!subject.inTable || subject.vatNumber.empty()) continue;
      ++(YoungAnswer(subject.vatNumber) ? stored : toPay);
    }
    std::string line = "Anteprima: " + std::to_string(subjects.size()) + " soggetti, " + std::to_string(stored) +
                       " risposte gi\xC3\xA0 nell'archivio delle risposte, " + std::to_string(toPay) +
                       " richieste da pagare";
    if (inputs_.requestPrice) line += " (" + Euro(static_cast<double>(toPay) * *inputs_.requestPrice) + " euro)";
    bool fits = true;
    if (inputs_.maxRequests && toPay > *inputs_.maxRequests) {
      fits = false;
      line += "; oltre --max-richieste " + std::to_string(*inputs_.maxRequests);
    }
    const auto& limit = inputs_.session.options.ledger.dailyLimit;
    if (limit && toPay > *limit) {
      fits = false;
      line += "; oltre il limite giornaliero " + std::to_string(*limit);
    }
    line += "; nulla inviato";
    return {line, fits ? kListAllSettled : kListStoppedEarly};
  }

  RunOutcome Refresh(const std::vector<ChosenSubject>& subjects) {
    // From here a stop signal is kept until the subject under way is done: the run then ends with
    // its report written, and a later run goes on from there.
    gate_.EndSubject();
    const RunProgress progress(subjects.size(), "soggetti");
    std::vector<SubjectComparison> comparisons;
    std::vector<SubjectOutcome> outcomes;
    for (const ChosenSubject& subject : subjects) {
      if (!gate_.StopKept().empty()) Stop("Operazione interrotta (" + gate_.StopKept() + ")");
      SubjectComparison comparison;
      comparison.code = subject.code;
      comparison.vatNumber = subject.vatNumber;
      SubjectOutcome outcome = SubjectOutcome::NotTried;
      if (stop_) {
        comparison.state = kNotTried;
      } else if (!subject.inTable) {
        comparison.state = kNotFound;
        outcome = SubjectOutcome::NotFound;
      } else if (subject.vatNumber.empty()) {
        comparison.state = kNoVatNumber;
        outcome = SubjectOutcome::Failed;
      } else {
        try {
          outcome = inputs_.apply ? ApplySubject(comparison) : CompareSubject(comparison);
        } catch (const Exception& error) {
          comparison.state = error.Message();
          outcome = SubjectOutcome::Failed;
          if (EndsTheRun(error.Message())) Stop(error.Message());
        }
        if (!inputs_.apply && (outcome == SubjectOutcome::Failed || outcome == SubjectOutcome::NotFound)) {
          ForgetComparison(comparison.code);
        }
      }
      comparisons.push_back(std::move(comparison));
      outcomes.push_back(outcome);
      progress.Show(comparisons.size(), paid_);
    }
    return Summary(comparisons, outcomes);
  }

  // The differences of one subject: its row read, its answer from the store, the comparison kept
  // for a later apply. Nothing is written to the archive.
  SubjectOutcome CompareSubject(SubjectComparison& comparison) {
    const auto row = ReadSubjectColumns(session_.Archive(), table_, comparison.code, columns_);
    if (!row) {
      comparison.state = kNotFound;
      return SubjectOutcome::NotFound;
    }
    std::optional<store::StoredAnswer> answer = YoungAnswer(comparison.vatNumber);
    if (!answer) {
      const std::optional<SubjectOutcome> unpaid = PayFor(comparison, answer);
      if (unpaid) return *unpaid;
    }
    const std::unique_ptr<TJSONValue> parsed = ParseJSONValue(answer->body);
    const config::EInvoiceColumns& eInvoice = session_.Rules().eInvoiceColumns;
    const auto base = store_->LastWritten(place_.company, place_.archive, place_.kind, comparison.code);
    comparison = korvane::CompareSubject(comparison.code, comparison.vatNumber,
                                         ReadRegistryFieldsFor(parsed.get(), *inputs_.session.options.answerPaths,
                                                               comparison.vatNumber, eInvoice, activityMark_),
                                         *row, base, locks_, eInvoice);
    store_->KeepComparison(KeptOf(comparison, place_, NowUnix()));
    return comparison.Changes().empty() ? SubjectOutcome::Unchanged : SubjectOutcome::WithChanges;
  }

  // A subject this run could not compare has no comparison to apply: the report says why, and an
  // apply must not write what an older report showed.
  void ForgetComparison(const std::string& code) {
    try {
      store_->DropComparison(place_.company, place_.archive, place_.kind, code);
    } catch (const Exception& error) {
      Stop(error.Message());
    }
  }

  // Asks the registry for the subject's answer, as the list asks (the ledger's record first, where
  // the daily limit refuses; a temporary failure asked again after a growing wait, or the one the
  // registry gives), and keeps it in the store before it is read: a run stopped from here on finds
  // it and pays nothing twice. Nothing when the answer is in `answer`; otherwise the subject's
  // outcome, its state set. A failure of the whole run (the token, the credit, a limit, the store)
  // stops the run.
  std::optional<SubjectOutcome> PayFor(SubjectComparison& comparison, std::optional<store::StoredAnswer>& answer) {
    if (inputs_.maxRequests && requests_ >= *inputs_.maxRequests) {
      Stop("limite di richieste raggiunto (--max-richieste " + std::to_string(*inputs_.maxRequests) + ")");
      comparison.state = kNotTried;
      return SubjectOutcome::NotTried;
    }
    for (int tries = 1;; ++tries) {
      PaidRequest request(session_, comparison.vatNumber);
      RunOutcome failed;
      bool asked = false;
      try {
        ++requests_;
        request.Record();
        asked = true;
        const std::string& body = request.Ask(session_.Registry()).body;
        ++paid_;
        request.Settle(0, comparison.code);
        answer = store::StoredAnswer{0,    comparison.vatNumber, AnswerEndpoint(session_), NowUnix(),
                                     body, request.LedgerKey()};
        answer->id = store_->SaveAnswer(*answer);
        return std::nullopt;
      } catch (const Exception& error) {
        request.Settle(1, error.Message());
        const PaidAnswer& paid = request.Answer();
        failed = RunOutcome(error.Message(), 1,
                            paid.requestSent ? OutcomeKind::PaidNotWritten : OutcomeKind::RefusedBeforePaying);
        failed.registryAsked = asked;
        failed.registryStatus = paid.status;
        failed.requestSent = paid.requestSent;
        if (answer) {
          // Paid for, and the store did not keep it: the answer is still compared.
          Stop(error.Message());
          return std::nullopt;
        }
      }
      const FailureKind kind = KindOfFailure(failed);
      comparison.state = failed.line;
      if (kind == FailureKind::WholeRun) {
        Stop(failed.line);
        return SubjectOutcome::NotTried;
      }
      if (kind != FailureKind::Temporary || tries >= kTriesOfTemporaryFailure || !WaitBeforeAsking(tries, request)) {
        return SubjectOutcome::Failed;
      }
      platform::trace::Step("refresh " + comparison.code + ": " + failed.line + ", asked again");
    }
  }

  // The pause before a temporary failure is asked again: growing with the tries, or as long as the
  // registry asked within kLongestRetryWait. False when a stop signal came meanwhile.
  bool WaitBeforeAsking(int tries, const PaidRequest& request) {
    std::chrono::seconds wait = kFirstRetryWait * (1 << (tries - 1));
    if (request.Answer().retryAfter) {
      wait = std::clamp(*request.Answer().retryAfter, std::chrono::seconds(0), kLongestRetryWait);
    }
    const auto until = std::chrono::steady_clock::now() + wait;
    while (std::chrono::steady_clock::now() < until) {
      if (!gate_.StopKept().empty()) return false;
      std::this_thread::sleep_for(
          std::min<std::chrono::steady_clock::duration>(kStopLook, until - std::chrono::steady_clock::now()));
    }
    return true;
  }

  void Stop(const std::string& reason) {
    if (stop_) return;
    stop_ = reason;
    platform::trace::Step("refresh stopped: " + reason);
  }

  // The apply of one subject: exactly the changes its last comparison showed, only while its row
  // still holds what that comparison read; the values written become its base.
  SubjectOutcome ApplySubject(SubjectComparison& comparison) {
    const auto kept = store_->LastComparison(place_.company, place_.archive, place_.kind, comparison.code);
    if (!kept) {
      comparison.state = kNoComparison;
      return SubjectOutcome::NoComparison;
    }
    if (kept->appliedUnix) {
      comparison.state = kAlreadyApplied;
      return SubjectOutcome::AlreadyApplied;
    }
    const std::string vatNumber = comparison.vatNumber;
    comparison = ComparisonOf(*kept);
    ApplyLocks(comparison, locks_);
    if (comparison.Changes().empty()) return SubjectOutcome::Unchanged;
    // A code that now names a subject of another number is not the one compared.
    if (kept->vatNumber != vatNumber || !WriteChanges(session_.Archive(), table_, comparison)) {
      comparison.state = kChangedMeanwhile;
      return SubjectOutcome::ChangedMeanwhile;
    }
    comparison.state = kApplied;
    try {
      std::vector<std::string> changed;
      for (const auto& change : comparison.Changes()) changed.push_back(change.first);
      RecordUpdatedBase(*store_, session_, comparison.code, comparison.vatNumber, changed);
      store_->MarkComparisonApplied(*kept, NowUnix());
    } catch (const Exception& error) {
      // The row is written: what the store missed leaves a later refresh to see the new values as
      // corrected by hand (kept), and a later apply to find the row changed (skipped).
      comparison.state = std::string(kApplied) + "; " + error.Message();
      if (EndsTheRun(error.Message())) Stop(error.Message());
    }
    return SubjectOutcome::Applied;
  }

  RunOutcome Summary(const std::vector<SubjectComparison>& comparisons, const std::vector<SubjectOutcome>& outcomes) {
    const std::string reportPath = inputs_.reportPath.empty() ? kDefaultRefreshReport : inputs_.reportPath;
    std::string where = "rapporto " + reportPath;
    bool reportWritten = true;
    try {
      WriteDifferencesReport(reportPath, comparisons);
    } catch (const Exception& error) {
      where = error.Message();
      reportWritten = false;
    }
    std::map<SubjectOutcome, int> counts;
    for (const SubjectOutcome outcome : outcomes) ++counts[outcome];
    const auto count = [&](SubjectOutcome outcome, const char* words) {
      return std::to_string(counts[outcome]) + " " + words;
    };
    std::string line =
        "Aggiornamento: " + std::to_string(outcomes.size()) + " soggetti, " +
        count(SubjectOutcome::Unchanged, "invariati, ") + count(SubjectOutcome::WithChanges, "con modifiche, ") +
        count(SubjectOutcome::Applied, "aggiornati, ") +
        count(SubjectOutcome::AlreadyApplied, "gi\xC3\xA0 applicati, ") +
        count(SubjectOutcome::ChangedMeanwhile, "modificati nel frattempo, ") +
        count(SubjectOutcome::NoComparison, "senza confronto, ") + count(SubjectOutcome::NotFound, "non trovati, ") +
        count(SubjectOutcome::Failed, "non riusciti, ") + count(SubjectOutcome::NotTried, "non tentati; ") +
        std::to_string(paid_) + " richieste pagate; " + (inputs_.apply ? "" : "nulla scritto; ") + where;
    if (stop_) line += " (interrotto: " + *stop_ + ")";
    const bool allSettled = std::all_of(outcomes.begin(), outcomes.end(), [](SubjectOutcome outcome) {
      return outcome == SubjectOutcome::Unchanged || outcome == SubjectOutcome::WithChanges ||
             outcome == SubjectOutcome::Applied || outcome == SubjectOutcome::AlreadyApplied;
    });
    if (stop_) return {line, kListStoppedEarly};
    return {line, allSettled && reportWritten ? kListAllSettled : kListSomeNotImported};
  }

  const RefreshInputs& inputs_;
  platform::RunGate& gate_;
  Session session_;
  std::unique_ptr<store::AnswerStore> store_;
  std::string table_;
  FieldLocks locks_;
  ComparisonPlace place_;
  std::vector<std::string> columns_;
  std::optional<config::CompanyColumn> activityMark_;
  std::optional<std::string> stop_;
  std::int64_t requests_ = 0;
  std::int64_t paid_ = 0;
};

}  // namespace

bool IsRefreshRequest(const std::vector<std::string>& arguments) {
  return std::find(arguments.begin(), arguments.end(), "--aggiorna") != arguments.end();
}

RefreshRequest ReadRefreshRequest(std::vector<std::string> arguments, const platform::EnvironmentLookup& environment) {
  RefreshRequest request;
  const RunOutcome outcome = CatchOutcome([&] {
    RefreshInputs inputs;
    std::vector<std::string> sessionArguments;
    int choices = 0;
    for (std::size_t i = 0; i < arguments.size(); ++i) {
      const std::string& argument = arguments[i];
      const auto value = [&](const char* name) {
        if (i + 1 >= arguments.size()) throw Exception(std::string("Valore mancante per ") + name);
        return arguments[++i];
      };
      if (argument == "--aggiorna") {
      } else if (argument == "--codici") {
        inputs.selection.choice = RefreshChoice::Codes;
        inputs.selection.codesPath = value("--codici");
        ++choices;
      } else if (argument == "--tutti") {
        inputs.selection.choice = RefreshChoice::ItalianVat;
        ++choices;
      } else if (argument == "--non-aggiornati-da") {
        const auto days = WholeNumber(value("--non-aggiornati-da"), 0, 100000);
        if (!days) throw Exception("Valore non valido per --non-aggiornati-da (giorni)");
        inputs.selection.choice = RefreshChoice::NotUpdatedFor;
        inputs.selection.days = *days;
        ++choices;
      } else if (argument == "--anteprima") {
        inputs.preview = true;
      } else if (argument == "--applica") {
        inputs.apply = true;
      } else if (argument == "--rapporto") {
        inputs.reportPath = value("--rapporto");
      } else if (argument == "--campi-bloccati") {
        inputs.locksPath = value("--campi-bloccati");
      } else if (argument == "--eta-risposte") {
        const auto days = WholeNumber(value("--eta-risposte"), 0, 100000);
        if (!days) throw Exception("Valore non valido per --eta-risposte (giorni)");
        inputs.answerAgeDays = *days;
      } else if (argument == "--max-richieste") {
        inputs.maxRequests = WholeNumber(value("--max-richieste"), 0, INT64_MAX);
        if (!inputs.maxRequests) throw Exception("Valore non valido per --max-richieste");
      } else if (argument.starts_with("--")) {
        throw Exception("Opzione non riconosciuta (" + argument + ")");
      } else {
        sessionArguments.push_back(argument);
      }
    }
    if (choices != 1) throw Exception("Scegliere i soggetti con una sola tra --codici, --tutti e --non-aggiornati-da");
    if (inputs.preview && inputs.apply) throw Exception("--anteprima e --applica non vanno insieme");
    ManySubjectsInputs common = ReadManySubjectsInputs(std::move(sessionArguments), environment, "--aggiorna");
    inputs.session = std::move(common.session);
    inputs.storePath = std::move(common.storePath);
    inputs.requestPrice = common.requestPrice;
    request.inputs = std::move(inputs);
    return RunOutcome{{}, 0};
  });
  if (!request.inputs) request.refusal = outcome.line;
  return request;
}

RunOutcome RunRefresh(const RefreshRequest& request, const std::string& programFile) {
  if (!request.inputs) return {request.refusal, kListCouldNotStart};
  std::optional<RefreshRunner> runner;
  const RunOutcome started = CatchOutcome([&] {
    runner.emplace(*request.inputs, programFile);
    return RunOutcome{{}, 0};
  });
  if (!runner) return {started.line, kListCouldNotStart};
  return CatchOutcome([&] { return runner->Run(); });
}

}  // namespace korvane
