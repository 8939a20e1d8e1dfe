#include "app/refresh/RefreshRun.h"

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <fstream>
#include <map>
#include <sstream>

#include "app/list/ListInputs.h"
#include "app/list/ListRun.h"
#include "app/refresh/DifferencesReport.h"
#include "app/refresh/SubjectComparison.h"
#include "app/run/Session.h"
#include "app/run/WrittenBase.h"
#include "app/subject/VatNumber.h"
#include "config/ReadTransaction.h"
#include "config/TableRights.h"
#include "db/IBSQL.h"
#include "db/IBTransaction.h"
#include "platform/Exception.h"
#include "platform/Process.h"
#include "store/AnswerStore.h"

namespace korvane {

namespace {

// The states of a subject that was not merged, as the report words them.
constexpr const char* kToRequest = "da richiedere";
constexpr const char* kNotFound = "codice non trovato";
constexpr const char* kChangedMeanwhile = "modificato nel frattempo";

std::int64_t NowUnix() {
  return std::chrono::duration_cast<std::chrono::seconds>(std::chrono::system_clock::now().time_since_epoch()).count();
}

std::string Trimmed(std::string_view text) {
  while (!text.empty() && static_cast<unsigned char>(text.front()) <= ' ') text.remove_prefix(1);
  while (!text.empty() && static_cast<unsigned char>(text.back()) <= ' ') text.remove_suffix(1);
  return std::string(text);
}

// The codes of a file, one a line; blank lines and lines starting with "#" ignored.
std::vector<std::string> ReadCodes(const std::string& path) {
  std::ifstream file(path, std::ios::binary);
  if (!file) throw Exception("File dei codici non leggibile (" + path + ")");
  std::vector<std::string> codes;
  std::string line;
  bool first = true;
  while (std::getline(file, line)) {
    if (first && line.starts_with("\xEF\xBB\xBF")) line.erase(0, 3);
    first = false;
    std::string code = Trimmed(line);
    if (!code.empty() && code.front() != '#' && std::find(codes.begin(), codes.end(), code) == codes.end()) {
      codes.push_back(std::move(code));
    }
  }
  return codes;
}

struct ChosenSubject {
  std::string code;
  std::string vatNumber;  // as NormalizeVatNumber gives it; empty for a code not found
};

std::vector<ChosenSubject> ChooseSubjects(Session& session, const RefreshInputs& inputs) {
  const std::string table(session.Kind().table);
  std::map<std::string, std::string> byCode;
  config::ReadInTransaction(session.Archive(), TIBTransactionLevel::ibtrSnapshot, [&](TIBSQL& sql) {
    sql.AddLine("SELECT CODICE, PI FROM " + table);
    if (inputs.choice == RefreshChoice::NotUpdatedFor) {
      sql.AddLine("WHERE DATAULTIMOAGGIORNAMENTO IS NULL OR DATAULTIMOAGGIORNAMENTO < CURRENT_DATE - " +
                  std::to_string(inputs.days));
    }
    sql.ExecQuery();
    for (; !sql.Eof(); sql.Next()) {
      byCode[Trimmed(sql.FieldByName("CODICE").AsString())] = NormalizeVatNumber(sql.FieldByName("PI").AsString());
    }
  });
  std::vector<ChosenSubject> chosen;
  if (inputs.choice == RefreshChoice::Codes) {
    for (std::string& code : ReadCodes(inputs.codesPath)) {
      const auto found = byCode.find(code);
      chosen.push_back({std::move(code), found == byCode.end() ? std::string() : found->second});
    }
    return chosen;
  }
  for (auto& [code, vatNumber] : byCode) {
    if (IsValidItalianVatNumber(vatNumber)) chosen.push_back({code, vatNumber});
  }
  return chosen;
}

// Writes the comparison's changes in a transaction of its own, only while the row still holds
// every value the comparison read (locked for the check, so no other write slips in between),
// with DATAULTIMOAGGIORNAMENTO set to today. False, with nothing written, when the row changed.
bool WriteChanges(TIBDatabase& archive, std::string_view table, const SubjectComparison& comparison) {
  TIBTransaction transaction(&archive, TIBTransactionLevel::ibtrSnapshot);
  transaction.StartTransaction();
  try {
    std::vector<std::string> columns;
    for (const FieldComparison& field : comparison.fields) columns.push_back(field.field);
    std::string list;
    for (const std::string& column : columns) list += (list.empty() ? "" : ",") + config::QuotedIdentifier(column);
    bool unchanged = false;
    {
      TIBSQL read(&archive);
      read.SetTransaction(&transaction);
      read.AddLine("SELECT " + list + " FROM " + std::string(table) + " WHERE CODICE = :CODICE WITH LOCK");
      read.ParamByName("CODICE").SetAsString(comparison.code);
      read.ExecQuery();
      unchanged = !read.Eof();
      for (const FieldComparison& field : comparison.fields) {
        if (!unchanged) break;
        TIBXSQLVAR& value = read.FieldByName(field.field);
        std::string now = value.IsNull() ? std::string() : value.AsString();
        while (!now.empty() && now.back() == ' ') now.pop_back();
        unchanged = now == field.archive;
      }
      read.Close();
    }
    if (!unchanged) {
      transaction.Rollback();
      return false;
    }
    TIBSQL update(&archive);
    update.SetTransaction(&transaction);
    update.SetParamCheck(true);
    std::string assignments;
    int index = 0;
    const auto changes = comparison.Changes();
    for (const auto& change : changes) {
      assignments += config::QuotedIdentifier(change.first) + " = :V" + std::to_string(index++) + ", ";
    }
    update.AddLine("UPDATE " + std::string(table) + " SET " + assignments +
                   "DATAULTIMOAGGIORNAMENTO = CURRENT_DATE WHERE CODICE = :CODICE");
    index = 0;
    for (const auto& change : changes) update.ParamByName("V" + std::to_string(index++)).SetAsString(change.second);
    update.ParamByName("CODICE").SetAsString(comparison.code);
    update.ExecQuery();
    transaction.Commit();
    return true;
  } catch (...) {
    try {
      transaction.Rollback();
    } catch (const Exception&) {
    }
    throw;
  }
}

class RefreshRunner {
 public:
  RefreshRunner(const RefreshInputs& inputs, const std::string& programFile) : inputs_(inputs) {
    SessionInputs session = inputs.session;
    // A plan writes nothing: not even the ledger's file.
    if (inputs.preview) session.options.ledger.path.clear();
    session_.Open(std::move(session), programFile);
  }
  ~RefreshRunner() { session_.Release(); }
  RefreshRunner(const RefreshRunner&) = delete;
  RefreshRunner& operator=(const RefreshRunner&) = delete;

  RunOutcome Run() {
    const std::string table(session_.Kind().table);
    // The right to change rows is checked before anything else, as an import checks its insert.
    if (inputs_.apply) config::CheckUpdateRight(session_.Archive(), table);
    if (!inputs_.preview || platform::FileExists(inputs_.storePath)) {
      store_ = std::make_unique<store::AnswerStore>(inputs_.storePath);
    }
    const FieldLocks locks = inputs_.locksPath.empty() ? FieldLocks() : FieldLocks::FromFile(inputs_.locksPath);
    const std::vector<ChosenSubject> subjects = ChooseSubjects(session_, inputs_);
    return inputs_.preview ? Plan(subjects) : Compare(subjects, locks, table);
  }

 private:
  std::optional<store::StoredAnswer> YoungAnswer(const std::string& vatNumber) const {
    if (!store_ || vatNumber.empty()) return std::nullopt;
    return store_->LatestAnswer(vatNumber, NowUnix() - inputs_.answerAgeDays * 86400);
  }

  RunOutcome Plan(const std::vector<ChosenSubject>& subjects) const {
    std::int64_t stored = 0;
    std::int64_t toPay = 0;
    for (const ChosenSubject& subject : subjects) {
      if (subject.vatNumber.empty()) continue;
      ++(YoungAnswer(subject.vatNumber) ? stored : toPay);
    }
    std::string line = "Anteprima: " + std::to_string(subjects.size()) + " soggetti, " + std::to_string(stored) +
                       " risposte gi\xC3\xA0 nell'archivio delle risposte, " + std::to_string(toPay) +
                       " richieste da pagare";
    if (inputs_.requestPrice) {
      char cost[64];
      std::snprintf(cost, sizeof cost, "%.2f", static_cast<double>(toPay) * *inputs_.requestPrice);
      std::string euro = cost;
      std::replace(euro.begin(), euro.end(), '.', ',');
      line += " (" + euro + " euro)";
    }
    const auto& limit = inputs_.session.options.ledger.dailyLimit;
    const bool fits = !limit || toPay <= *limit;
    if (!fits) line += "; oltre il limite giornaliero " + std::to_string(*limit);
    line += "; nulla inviato";
    return {line, fits ? kListAllSettled : kListStoppedEarly};
  }

  RunOutcome Compare(const std::vector<ChosenSubject>& subjects, const FieldLocks& locks, const std::string& table) {
    const config::EInvoiceColumns& eInvoice = session_.Rules().eInvoiceColumns;
    const std::vector<std::string> columns = ComparedColumns(eInvoice);
    const char kind = session_.Inputs().tipoSoggetto == TTipoSoggetto::tsFornitore ? 'F' : 'C';
    const std::string archiveName = session_.Archive().DatabaseName();
    std::vector<SubjectComparison> comparisons;
    std::map<std::string, int> counts;
    for (const ChosenSubject& subject : subjects) {
      SubjectComparison comparison;
      comparison.code = subject.code;
      comparison.vatNumber = subject.vatNumber;
      const auto row = subject.vatNumber.empty() ? std::nullopt
                                                 : ReadSubjectColumns(session_.Archive(), table, subject.code, columns);
      const auto answer = row ? YoungAnswer(subject.vatNumber) : std::nullopt;
      if (!row) {
        comparison.state = kNotFound;
      } else if (!answer) {
        comparison.state = kToRequest;
      } else {
        const std::unique_ptr<TJSONValue> parsed = ParseJSONValue(answer->body);
        try {
          const auto base = store_->LastWritten(inputs_.session.company, archiveName, kind, subject.code);
          comparison = CompareSubject(subject.code, subject.vatNumber,
                                      ReadRegistryFields(parsed.get(), *inputs_.session.options.answerPaths, eInvoice),
                                      *row, base, locks, eInvoice);
          if (inputs_.apply && !comparison.Changes().empty()) Apply(comparison, table);
        } catch (const Exception& error) {
          comparison.state = error.Message();
        }
      }
      ++counts[comparison.state.empty() ? (comparison.Changes().empty() ? "invariati" : "con modifiche")
                                        : comparison.state];
      comparisons.push_back(std::move(comparison));
    }
    const std::string reportPath = inputs_.reportPath.empty() ? kDefaultRefreshReport : inputs_.reportPath;
    std::string where = "rapporto " + reportPath;
    bool reportWritten = true;
    try {
      WriteDifferencesReport(reportPath, comparisons);
    } catch (const Exception& error) {
      where = error.Message();
      reportWritten = false;
    }
    // A subject left to request, not found, changed meanwhile or unreadable is not settled.
    const auto unsettled = std::count_if(comparisons.begin(), comparisons.end(), [](const SubjectComparison& c) {
      return !c.state.empty() && c.state != kApplied;
    });
    const std::string line =
        "Aggiornamento: " + std::to_string(subjects.size()) + " soggetti, " + std::to_string(counts["invariati"]) +
        " invariati, " + std::to_string(counts["con modifiche"]) +
        (inputs_.apply ? " non scritti, " : " con modifiche, ") + std::to_string(counts[kApplied]) + " aggiornati, " +
        std::to_string(counts[kChangedMeanwhile]) + " modificati nel frattempo, " + std::to_string(counts[kToRequest]) +
        " da richiedere, " + std::to_string(counts[kNotFound]) + " non trovati; 0 richieste pagate; " +
        (inputs_.apply ? "" : "nulla scritto; ") + where;
    return {line, unsettled > 0 || !reportWritten ? kListSomeNotImported : kListAllSettled};
  }

  // Writes the subject's changes and records the values written as its new base.
  void Apply(SubjectComparison& comparison, const std::string& table) {
    if (!WriteChanges(session_.Archive(), table, comparison)) {
      comparison.state = kChangedMeanwhile;
      return;
    }
    comparison.state = kApplied;
    std::vector<std::string> changed;
    for (const auto& change : comparison.Changes()) changed.push_back(change.first);
    RecordUpdatedBase(*store_, session_, comparison.code, comparison.vatNumber, changed);
  }

  static constexpr const char* kApplied = "aggiornato";

  const RefreshInputs& inputs_;
  Session session_;
  std::unique_ptr<store::AnswerStore> store_;
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
        inputs.choice = RefreshChoice::Codes;
        inputs.codesPath = value("--codici");
        ++choices;
      } else if (argument == "--tutti") {
        inputs.choice = RefreshChoice::ItalianVat;
        ++choices;
      } else if (argument == "--non-aggiornati-da") {
        const auto days = WholeNumber(value("--non-aggiornati-da"), 0, 100000);
        if (!days) throw Exception("Valore non valido per --non-aggiornati-da (giorni)");
        inputs.choice = RefreshChoice::NotUpdatedFor;
        inputs.days = *days;
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
