#include "app/list/ListRun.h"

#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <deque>
#include <filesystem>
#include <future>
#include <map>
#include <memory>
#include <optional>

#include "app/list/ListNumbers.h"
#include "app/list/ListReport.h"
#include "app/list/RequestWorkers.h"
#include "app/list/RunProgress.h"
#include "app/list/RowFailure.h"
#include "app/run/Assessment.h"
#include "app/run/PaidRequest.h"
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

namespace trace = platform::trace;

// A temporary failure is tried this many times in all, waiting longer each time, or as long as
// the registry's Retry-After asks within kLongestRetryWait.
constexpr int kTriesOfTemporaryFailure = 3;
constexpr std::chrono::seconds kFirstRetryWait{1};
constexpr std::chrono::seconds kLongestRetryWait{60};
// How often the run looks for a stop signal while it waits for an answer.
constexpr std::chrono::milliseconds kStopLook{100};

// The state a row has in the store while its request is out: a later run that finds it looks
// the number up in the archive before paying again.
constexpr const char* kRequestSent = "richiesta inviata";

constexpr std::int64_t kSecondsOfDay = 86400;

std::int64_t NowUnix() {
  return std::chrono::duration_cast<std::chrono::seconds>(std::chrono::system_clock::now().time_since_epoch()).count();
}

bool IsSettled(RowOutcome outcome) { return !IsToTryAgain(outcome); }

char KindLetter(TTipoSoggetto kind) { return kind == TTipoSoggetto::tsFornitore ? 'F' : 'C'; }

// The row's outcome for a failure of its kind.
RowOutcome OutcomeOfFailure(FailureKind kind) {
  switch (kind) {
    case FailureKind::Temporary: return RowOutcome::Retry;
    case FailureKind::Invalid: return RowOutcome::Invalid;
    case FailureKind::Row: return RowOutcome::Refused;
    case FailureKind::WholeRun: return RowOutcome::NotTried;
  }
  return RowOutcome::Refused;
}

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

// A row whose subject is to be written: its answer in hand (from the store) or asked for by the
// workers. Rows are written one at a time in the file's order.
struct PendingRow {
  std::size_t index = 0;
  Session* session = nullptr;
  std::optional<std::string> answer;
  // The request asked for this row in this run; nothing when the answer came from the store.
  std::unique_ptr<PaidRequest> request;
  std::future<void> asked;
  int tries = 0;
};

// One list run, from its inputs to its summary.
class ListRunner {
 public:
  ListRunner(const ListInputs& inputs, const std::string& programFile, platform::RunGate& gate)
      : inputs_(inputs), sessions_(SessionFor(inputs), programFile), gate_(gate) {}

  RunOutcome Run() {
    const ListFile list = ReadListFile(inputs_.listPath);
    numbers_ = CheckListNumbers(list.entries);
    // The store is needed before anything is paid; a plan only reads one that exists.
    if (!inputs_.preview || platform::FileExists(inputs_.storePath)) {
      store_ = std::make_unique<store::AnswerStore>(inputs_.storePath);
    }
    Session& first = sessions_.For(KindLetter(inputs_.session.tipoSoggetto));
    if (store_) {
      const std::optional<std::int64_t> known =
          inputs_.preview ? store_->FindList(ListKey()) : store_->ListId(ListKey(), NowUnix());
      if (known) {
        listId_ = *known;
        for (store::ListRowRecord& row : store_->ListRows(listId_)) earlier_[row.line] = std::move(row);
      }
    }
    if (inputs_.preview) return Plan();
    // Each worker's client shares the first session's TLS context.
    workers_ = std::make_unique<RequestWorkers>(inputs_.parallel, [&first] { return first.NewRegistryClient(true); });
    return Import(list);
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

  // What an earlier run of the same list recorded for this row, when it was about the same number.
  const store::ListRowRecord* Earlier(const ListNumber& number) const {
    const auto found = earlier_.find(number.entry.line);
    return found != earlier_.end() && found->second.vatNumber == number.vatNumber ? &found->second : nullptr;
  }

  // The outcome an earlier run settled the row with; nothing when it is to be tried (again).
  const RowOutcome* SettledBefore(const ListNumber& number) {
    const store::ListRowRecord* before = Earlier(number);
    const std::optional<RowOutcome> outcome = before ? OutcomeFromWord(before->state) : std::nullopt;
    if (!outcome || !IsSettled(*outcome)) return nullptr;
    settledBefore_ = *outcome;
    return &settledBefore_;
  }

  // An answer the store has for the row: the one this list paid for in an earlier run, else one
  // younger than the maximum age the run was given.
  std::optional<store::StoredAnswer> StoredAnswerFor(const ListNumber& number) const {
    if (!store_) return std::nullopt;
    if (const store::ListRowRecord* before = Earlier(number); before && before->answerId) {
      if (std::optional<store::StoredAnswer> answer = store_->Answer(*before->answerId)) return answer;
    }
    if (inputs_.answerMaxAgeDays) {
      return store_->LatestAnswer(number.vatNumber, NowUnix() - *inputs_.answerMaxAgeDays * kSecondsOfDay);
    }
    return std::nullopt;
  }

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
  RunOutcome Plan() {
    std::int64_t toPay = 0;
    std::int64_t inStore = 0;
    std::string lines;
    for (const ListNumber& number : numbers_) {
      std::string plan;
      if (number.verdict == ListVerdict::Invalid) {
        plan = "non valido: " + number.message;
      } else if (number.verdict == ListVerdict::Duplicate) {
        plan = "duplicato della riga " + std::to_string(number.firstLine);
      } else if (const RowOutcome* settled = SettledBefore(number)) {
        plan = "gi\xC3\xA0 fatta da un'esecuzione precedente (" + std::string(OutcomeWord(*settled)) + ")";
      } else if (const auto code = StoredCode(sessions_.For(KindOf(number)), number.vatNumber)) {
        plan = "gi\xC3\xA0 presente (codice " + *code + ")";
        if (inputs_.importPresent) plan += PresentPlan(number);
      } else if (StoredAnswerFor(number)) {
        ++inStore;
        plan = "risposta gi\xC3\xA0 nell'archivio delle risposte";
      } else {
        ++toPay;
        plan = number.repaired ? "da pagare (P.IVA completata con gli zeri iniziali)" : "da pagare";
      }
      lines += "Riga " + std::to_string(number.entry.line) + " " + number.vatNumber + ": " + plan + "\r\n";
    }
    // Counted where PresentPlan found a row to pay for.
    toPay += presentToPay_;
    std::string total =
        "Anteprima: " + std::to_string(numbers_.size()) + " righe, " + std::to_string(toPay) + " richieste da pagare";
    if (inStore > 0) total += ", " + std::to_string(inStore) + " risposte gi\xC3\xA0 nell'archivio delle risposte";
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

  // What the company's setting makes of a number already present, when the run imports such
  // numbers: the plan's words after "già presente".
  std::string PresentPlan(const ListNumber& number) {
    const Assessment assessment =
        AssessSubject(sessions_.For(KindOf(number)), {number.vatNumber, number.entry.givenCode});
    switch (assessment.verdict) {
      case Verdict::Reuse: return ": l'impostazione della ditta lo riusa";
      case Verdict::Refuse: return ": l'impostazione della ditta lo rifiuta (" + assessment.refusal + ")";
      case Verdict::Pay: break;
    }
    if (StoredAnswerFor(number)) return ": importato di nuovo dalla risposta nell'archivio delle risposte";
    ++presentToPay_;
    return ": importato di nuovo, da pagare";
  }

  RunOutcome Import(const ListFile& list) {
    rows_.clear();
    rows_.reserve(numbers_.size());
    for (const ListNumber& number : numbers_) {
      rows_.push_back(RowOf(number));
      const store::ListRowRecord* before = Earlier(number);
      answerIds_.push_back(before ? before->answerId : std::nullopt);
    }
    progress_.emplace(numbers_.size(), "righe");
    for (std::size_t index = 0; index < numbers_.size(); ++index) {
      LookForStop();
      Begin(index);
      while (pending_.size() >= static_cast<std::size_t>(inputs_.parallel)) FinishFirst();
    }
    while (!pending_.empty()) FinishFirst();
    return Conclude(list);
  }

  // A row up to its request: settled without one, or handed to the workers (its answer in hand
  // when the store has it).
  void Begin(std::size_t index) {
    const ListNumber& number = numbers_[index];
    ReportRow& row = rows_[index];
    if (number.verdict != ListVerdict::ToImport) return Done(index, false);
    const store::ListRowRecord* before = Earlier(number);
    if (const RowOutcome* settled = SettledBefore(number)) {
      row.outcome = *settled;
      row.code = before->code;
      row.message = before->message;
      row.paid = before->paid;
      return Done(index, false);
    }
    if (stop_) return NotTried(index);
    try {
      Session& session = sessions_.For(KindOf(number));
      // A request that left in an earlier run without an outcome recorded: its subject may be
      // written already.
      const bool requestLeft = before && before->state == kRequestSent;
      if (!inputs_.importPresent || requestLeft) {
        if (const auto code = StoredCode(session, number.vatNumber)) {
          row.outcome = requestLeft ? RowOutcome::Imported : RowOutcome::AlreadyPresent;
          row.code = *code;
          row.paid = requestLeft;
          return Done(index);
        }
      }
      if (std::optional<store::StoredAnswer> stored = StoredAnswerFor(number)) {
        row.fromStore = true;
        answerIds_[index] = stored->id;
        row.answerAgeSeconds = std::max<std::int64_t>(0, NowUnix() - stored->receivedUnix);
        pending_.push_back({index, &session, std::move(stored->body), nullptr, {}, 0});
        return;
      }
      // The refusals before paying; a number present that the company's setting reuses.
      const Assessment assessment = AssessSubject(session, {number.vatNumber, number.entry.givenCode});
      if (assessment.verdict == Verdict::Reuse) {
        row.outcome = RowOutcome::AlreadyPresent;
        row.code = assessment.code.Codice;
        return Done(index);
      }
      if (assessment.verdict == Verdict::Refuse) return Failed(index, RunOutcome(assessment.refusal, 1));
      PendingRow pending{index, &session, std::nullopt, nullptr, {}, 0};
      if (!Ask(pending, {})) return;
      pending_.push_back(std::move(pending));
    } catch (const Exception& error) {
      // A look-up or another kind's session that fails ends this row (or, by its kind, the run),
      // never the report.
      Failed(index, RunOutcome(error.Message(), 1));
    }
  }

  // Records the row's request and hands it to the workers. False, and the row settled, when the
  // run's limit or the ledger refuses it.
  bool Ask(PendingRow& pending, std::chrono::steady_clock::time_point notBefore) {
    const ListNumber& number = numbers_[pending.index];
    if (inputs_.maxRequests && requests_ >= *inputs_.maxRequests) {
      Stop("limite di richieste della lista raggiunto (--max-richieste " + std::to_string(*inputs_.maxRequests) + ")");
      NotTried(pending.index);
      return false;
    }
    Record(pending.index, kRequestSent);
    pending.request = std::make_unique<PaidRequest>(*pending.session, number.vatNumber);
    try {
      pending.request->Record();
    } catch (const Exception& error) {
      // The daily limit, or a ledger that cannot be written: nothing leaves from here on.
      Stop(error.Message());
      NotTried(pending.index);
      return false;
    }
    ++requests_;
    ++pending.tries;
    pending.asked = workers_->Ask(*pending.request, notBefore);
    return true;
  }

  // Waits for the first row's answer (trying a temporary failure again), then writes its subject.
  void FinishFirst() {
    PendingRow& pending = pending_.front();
    const std::size_t index = pending.index;
    ReportRow& row = rows_[index];
    std::optional<PaidAnswer> paid;
    if (pending.request) {
      while (pending.asked.wait_for(kStopLook) != std::future_status::ready) LookForStop();
      try {
        pending.asked.get();
        paid = pending.request->Answer();
      } catch (const RequestNotAsked& notAsked) {
        pending.request->Settle(1, notAsked.Message());
        NotTried(index);
        pending_.pop_front();
        return;
      } catch (const Exception& error) {
        if (!AskedAgain(pending, error.Message())) pending_.pop_front();
        return;
      }
      ++paid_;
      row.paid = true;
      pending.answer = paid->body;
      // Kept before it is written: a run that ends from here on finds it and pays no more.
      KeepAnswer(pending);
    }
    platform::RunGate writeGate;
    RunOutcome outcome = ImportSubject(*pending.session, {numbers_[index].vatNumber, numbers_[index].entry.givenCode},
                                       writeGate, std::move(pending.answer));
    if (paid) {
      outcome.registryAsked = true;
      outcome.registryStatus = paid->status;
      outcome.requestSent = paid->requestSent;
      pending.request->Settle(outcome.exitCode, outcome.line);
    }
    if (outcome.kind == OutcomeKind::Committed) {
      row.outcome = paid ? RowOutcome::Imported : RowOutcome::Reused;
      row.code = outcome.code;
      RecordBase(*pending.session, index);
      Done(index);
    } else if (outcome.kind == OutcomeKind::Reused) {
      row.outcome = RowOutcome::AlreadyPresent;
      row.code = outcome.code;
      Done(index);
    } else {
      Failed(index, outcome);
    }
    pending_.pop_front();
  }

  // A failed request: asked again when its failure is temporary and tries are left (true), else
  // the row settled by the failure.
  bool AskedAgain(PendingRow& pending, const std::string& message) {
    const PaidAnswer& answer = pending.request->Answer();
    pending.request->Settle(1, message);
    RunOutcome failed(message, 1, answer.requestSent ? OutcomeKind::PaidNotWritten : OutcomeKind::RefusedBeforePaying);
    failed.registryAsked = true;
    failed.registryStatus = answer.status;
    failed.requestSent = answer.requestSent;
    const FailureKind kind = KindOfFailure(failed);
    if (kind == FailureKind::Temporary && pending.tries < kTriesOfTemporaryFailure && !stop_) {
      std::chrono::seconds wait = kFirstRetryWait * (1 << (pending.tries - 1));
      if (answer.retryAfter) wait = std::clamp(*answer.retryAfter, std::chrono::seconds(0), kLongestRetryWait);
      trace::Step("list row " + std::to_string(rows_[pending.index].line) + ": " + message + ", asked again in " +
                  std::to_string(wait.count()) + " s");
      if (Ask(pending, std::chrono::steady_clock::now() + wait)) return true;
      return false;
    }
    Failed(pending.index, failed);
    return false;
  }

  // Settles the row by its failure's kind; one of the whole run stops it.
  void Failed(std::size_t index, const RunOutcome& outcome) {
    ReportRow& row = rows_[index];
    const FailureKind kind = KindOfFailure(outcome);
    row.message = outcome.line;
    row.outcome = OutcomeOfFailure(kind);
    if (kind == FailureKind::WholeRun) {
      Stop(outcome.line);
      // A row whose answer is paid for and kept is tried again from it.
      if (row.paid) row.outcome = RowOutcome::Retry;
    }
    Done(index);
  }

  void NotTried(std::size_t index) {
    rows_[index].outcome = RowOutcome::NotTried;
    rows_[index].message = stop_.value_or("");
    Done(index);
  }

  // The row is settled: recorded in the store, counted in the progress.
  void Done(std::size_t index, bool record = true) {
    if (record) Record(index);
    progress_->Show(++done_, paid_);
  }

  // The whole run stops: no request begins from here on, those under way are settled.
  void Stop(const std::string& reason) {
    if (stop_) return;
    stop_ = reason;
    trace::Step("list stopped: " + reason);
    if (workers_) workers_->Cancel();
  }

  // A stop signal since the list began (the gate keeps it between its rows).
  void LookForStop() {
    if (stop_) return;
    const std::string signal = gate_.StopKept();
    if (!signal.empty()) Stop("Operazione interrotta (" + signal + ")");
  }

  RunOutcome Conclude(const ListFile& list) {
    const std::string reportPath =
        inputs_.reportPath.empty() ? DefaultReportPath(inputs_.listPath) : inputs_.reportPath;
    std::vector<std::int64_t> again;
    for (const ReportRow& row : rows_) {
      if (IsToTryAgain(row.outcome)) again.push_back(row.line);
    }
    std::string where = "rapporto " + reportPath;
    int exitCode = ExitCodeOf(rows_, stop_.has_value());
    try {
      WriteListReport(reportPath, rows_);
      if (!again.empty()) {
        const std::string retryPath = RetryFilePath(inputs_.listPath, list.form);
        WriteRetryFile(retryPath, list, again);
        where += ", da riprovare " + retryPath;
      }
    } catch (const Exception& error) {
      where = error.Message();
      exitCode = std::max(exitCode, kListSomeNotImported);
    }
    return {Summary(rows_, paid_, where) + (stop_ ? " (interrotta: " + *stop_ + ")" : ""), exitCode};
  }

  void Record(std::size_t index, std::string_view state = {}) {
    const ReportRow& row = rows_[index];
    if (!store_) return;
    try {
      store_->SaveListRow(listId_,
                          {row.line, row.value, row.vatNumber,
                           state.empty() ? std::string(OutcomeWord(row.outcome)) : std::string(state), row.code,
                           row.message, row.paid, answerIds_[index]},
                          NowUnix());
    } catch (const Exception& error) {
      // Without the store a later run could pay again for what this one did: stop here.
      Stop(error.Message());
    }
  }

  // Keeps a paid answer and points the row at it. A store that cannot take it stops the run after
  // this row: the answer is paid for and still written.
  void KeepAnswer(const PendingRow& pending) {
    const std::size_t index = pending.index;
    const PaidRequest& request = *pending.request;
    if (!store_) return;
    try {
      answerIds_[index] = store_->SaveAnswer({0, numbers_[index].vatNumber, AnswerEndpoint(*pending.session), NowUnix(),
                                              request.Answer().body, request.LedgerKey()});
    } catch (const Exception& error) {
      Stop(error.Message());
      return;
    }
    Record(index, kRequestSent);
  }

  // The values the row holds right after its commit: the base a later refresh compares with.
  void RecordBase(Session& session, std::size_t index) {
    if (!store_) return;
    try {
      RecordInsertedBase(*store_, session, rows_[index].code, numbers_[index].vatNumber);
    } catch (const Exception& error) {
      // The row is committed: a base not recorded only leaves the refresh without it.
      trace::Step("list row " + std::to_string(rows_[index].line) + ": base not recorded: " + error.Message());
    }
  }

  const ListInputs& inputs_;
  ListSessions sessions_;
  platform::RunGate& gate_;
  std::vector<ListNumber> numbers_;
  std::map<std::int64_t, store::ListRowRecord> earlier_;
  std::unique_ptr<store::AnswerStore> store_;
  std::int64_t listId_ = 0;
  std::vector<ReportRow> rows_;
  // Each row's answer in the store: paid for in this run or an earlier one, or reused.
  std::vector<std::optional<std::int64_t>> answerIds_;
  std::deque<PendingRow> pending_;
  std::optional<RunProgress> progress_;
  std::optional<std::string> stop_;
  std::int64_t requests_ = 0;
  std::int64_t paid_ = 0;
  std::int64_t presentToPay_ = 0;
  RowOutcome settledBefore_ = RowOutcome::NotTried;
  std::size_t done_ = 0;
  // Declared last, so destroyed first: its threads end before the rows they ask for.
  std::unique_ptr<RequestWorkers> workers_;
};

}  // namespace

RunOutcome RunList(const ListRequest& request, const std::string& programFile, platform::RunGate& gate) {
  // From here a stop signal is kept for the list, which ends its rows under way and reports.
  gate.EndSubject();
  const auto finish = [&](RunOutcome outcome) {
    gate.EnterFinish(outcome.exitCode);
    return outcome;
  };
  if (!request.inputs) return finish({request.refusal, kListCouldNotStart});
  std::optional<ListRunner> runner;
  RunOutcome started = CatchOutcome([&] {
    runner.emplace(*request.inputs, programFile, gate);
    return RunOutcome{{}, 0};
  });
  if (!runner) return finish({started.line, kListCouldNotStart});
  // What fails before the first row (the file, the store, the session) means nothing could start.
  bool rowsBegun = false;
  RunOutcome outcome = CatchOutcome([&] {
    RunOutcome result = runner->Run();
    rowsBegun = true;
    return result;
  });
  if (!rowsBegun) outcome.exitCode = kListCouldNotStart;
  return finish(outcome);
}

}  // namespace korvane
