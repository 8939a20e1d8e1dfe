#include "ListSessions.h"

#include <signal.h>
#include <spawn.h>
#include <sqlite3.h>
#include <sys/wait.h>
#include <unistd.h>

#include <fcntl.h>

#include <algorithm>
#include <filesystem>
#include <functional>
#include <iostream>
#include <fstream>
#include <map>
#include <optional>
#include <set>
#include <sstream>
#include <stdexcept>
#include <thread>
#include <utility>

#include "Plan.h"
#include "RunProcess.h"
#include "Soak.h"
#include "serverlogin/ServerLogin.h"

namespace korvane::soak {

namespace {

namespace fs = std::filesystem;
using std::chrono::milliseconds;

// The generator stream of the sessions (the runs' and the groups' are 1 and 2).
constexpr std::uint64_t kSessionStream = 7;
// Run indices of the sessions' runs in the relay's log, apart from the single runs'.
constexpr int kFirstRunIndex = 1000000;
// A list or a refresh not settled after this many runs is a violation; the last runs have no fault.
constexpr int kMostRuns = 14;
constexpr int kFaultFreeFrom = 9;
// A run still going after this is killed and counted as a violation (a silent database ends a
// run within KORVANE_DB_TIMEOUT, a registry's 429 within its Retry-After of 1 s).
constexpr auto kRunBound = std::chrono::seconds(90);
// How long the runs of the session under way may go on past the soak's end.
constexpr auto kPastTheEnd = std::chrono::seconds(10);

const std::string kCorrectedName = "Corretto a mano";
// The fields a refresh compares, as its report names them, in the order Subjects() reads them.
constexpr const char* kFields[] = {"PI", "RAGSOC", "CF", "INDIRIZZO", "NUMEROCIVICO", "CITTA", "PROVINCIA", "CAP"};

// An 11-digit VAT number with a valid office code and check digit, of this session and row alone.
std::string SessionVatNumber(int session, int row) {
  char digits[16];
  std::snprintf(digits, sizeof digits, "9%04d%02d001", session % 10000, row % 100);
  int sum = 0;
  for (int i = 0; i < 10; ++i) {
    int digit = digits[i] - '0';
    if (i % 2 == 1) digit = digit * 2 > 9 ? digit * 2 - 9 : digit * 2;
    sum += digit;
  }
  return std::string(digits) + static_cast<char>('0' + (10 - sum % 10) % 10);
}

// The /base answer for a number: an active company.
std::string BaseAnswer(const std::string& number) {
  return R"({"success":true,"message":"","data":{"cf":")" + number +
         R"(","denominazione":"Soak Lista S.r.l.","indirizzo":"Via Roma 5","civico":"5","comune":"Milano",)"
         R"("provincia":"MI","cap":"20121","stato_attivita":"ATTIVA","codice_destinatario":"0000000"}})";
}

std::string ReadFile(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  std::ostringstream text;
  text << in.rdbuf();
  return text.str();
}

std::vector<std::string> Split(const std::string& text, char separator) {
  std::vector<std::string> parts;
  std::size_t start = 0;
  for (std::size_t at; (at = text.find(separator, start)) != std::string::npos; start = at + 1) {
    parts.push_back(text.substr(start, at - start));
  }
  parts.push_back(text.substr(start));
  return parts;
}

// The cells of a report's line: ";"-separated, a cell in quotes when it holds one.
std::vector<std::string> ReportCells(const std::string& line) {
  std::vector<std::string> cells(1);
  bool quoted = false;
  for (std::size_t i = 0; i < line.size(); ++i) {
    const char ch = line[i];
    if (quoted) {
      if (ch == '"' && i + 1 < line.size() && line[i + 1] == '"') {
        cells.back() += '"';
        ++i;
      } else if (ch == '"') {
        quoted = false;
      } else {
        cells.back() += ch;
      }
    } else if (ch == '"') {
      quoted = true;
    } else if (ch == ';') {
      cells.emplace_back();
    } else {
      cells.back() += ch;
    }
  }
  return cells;
}

// A report's rows after its header, each as its cells.
std::vector<std::vector<std::string>> ReportRows(const std::string& path) {
  std::string text = ReadFile(path);
  if (text.starts_with("\xEF\xBB\xBF")) text.erase(0, 3);
  std::vector<std::vector<std::string>> rows;
  std::istringstream lines(text);
  bool header = true;
  for (std::string line; std::getline(lines, line);) {
    if (!line.empty() && line.back() == '\r') line.pop_back();
    if (std::exchange(header, false) || line.empty()) continue;
    rows.push_back(ReportCells(line));
  }
  return rows;
}

// The last 11 characters: the digits of a number however it is written ("IT..." or not).
std::string Digits(const std::string& number) {
  return number.size() > 11 ? number.substr(number.size() - 11) : number;
}

// The registry simulator of one session, on a free port of 127.0.0.1, stopped when it goes.
class Simulator {
 public:
  Simulator(const std::string& program, const std::string& folder, const std::vector<std::string>& numbers,
            const std::string& outcomes, int delayMs)
      : folder_(folder) {
    fs::create_directories(folder + "/data");
    // A number written with "IT" in the list is asked with it.
    for (const std::string& number : numbers) {
      std::ofstream(folder + "/data/" + number + ".json") << BaseAnswer(number);
      std::ofstream(folder + "/data/IT" + number + ".json") << BaseAnswer(number);
    }
    std::ofstream(folder + "/outcomes") << outcomes;
    const std::vector<std::string> words = {program,
                                            "--data",
                                            folder + "/data",
                                            "--ca-out",
                                            CaFile(),
                                            "--port-file",
                                            PortFile(),
                                            "--outcomes",
                                            folder + "/outcomes",
                                            "--delay-ms",
                                            std::to_string(delayMs)};
    std::vector<char*> argv;
    for (const std::string& word : words) argv.push_back(const_cast<char*>(word.c_str()));
    argv.push_back(nullptr);
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_addopen(&actions, 1, "/dev/null", O_WRONLY, 0);
    posix_spawn_file_actions_addopen(&actions, 2, (folder + "/simulator.err").c_str(), O_WRONLY | O_CREAT, 0600);
    posix_spawn_file_actions_addclosefrom_np(&actions, 3);
    const int failed = posix_spawn(&pid_, program.c_str(), &actions, nullptr, argv.data(), environ);
    posix_spawn_file_actions_destroy(&actions);
    if (failed != 0) throw std::runtime_error("cannot start the registry simulator " + program);
    for (int i = 0; i < 200 && !fs::exists(PortFile()); ++i) std::this_thread::sleep_for(milliseconds(50));
    std::ifstream(PortFile()) >> port_;
    if (port_ <= 0)
      throw std::runtime_error("the registry simulator did not start: " + ReadFile(folder + "/simulator.err"));
  }
  ~Simulator() {
    kill(pid_, SIGKILL);
    waitpid(pid_, nullptr, 0);
  }
  Simulator(const Simulator&) = delete;
  Simulator& operator=(const Simulator&) = delete;

  std::string Url() const { return "https://127.0.0.1:" + std::to_string(port_) + "/base/"; }
  std::string CaFile() const { return folder_ + "/ca.pem"; }

 private:
  std::string PortFile() const { return folder_ + "/port"; }

  std::string folder_;
  pid_t pid_ = -1;
  int port_ = 0;
};

// One session: its list, its files and what its runs did.
class Session {
 public:
  Session(const ListSoakOptions& options, Workspace& workspace, DatabaseRelay& relay, ListSoakResult& result, int index)
      : options_(options),
        workspace_(workspace),
        relay_(relay),
        result_(result),
        index_(index),
        random_(StreamOf(options.seed, kSessionStream, static_cast<std::uint64_t>(index))),
        folder_(workspace.Folder() + "/lists/" + std::to_string(index)) {
    fs::create_directories(folder_);
    const int count = random_.Between(3, 8);
    for (int row = 0; row < count; ++row) numbers_.push_back(SessionVatNumber(index, row));
  }

  void Run() {
    // The list as an office saves it: a header, a number written with blanks, one repeated, one
    // that is not a number at all.
    std::ofstream list(List(), std::ios::binary);
    list << "Ragione sociale;Partita IVA\r\n";
    for (std::size_t i = 0; i < numbers_.size(); ++i) {
      const std::string& number = numbers_[i];
      list << "Ditta " << i << ";" << (i == 0 ? "IT " + number.substr(0, 5) + " " + number.substr(5) : number)
           << "\r\n";
    }
    list << "Ditta ripetuta;" << numbers_.back() << "\r\n"
         << "Ditta senza numero;12345\r\n";
    list.close();
    // The registry's own faults, once per number: a 429 with Retry-After, a 5xx.
    std::string outcomes;
    for (const std::string& number : numbers_) {
      if (random_.Percent(20)) outcomes += number + " 429 retry-after=1 times=1\n";
      if (random_.Percent(15)) outcomes += number + (random_.Percent(50) ? " 500" : " 503") + " times=1\n";
    }
    Simulator simulator(options_.simulator, folder_ + "/registry", numbers_, outcomes, random_.Between(0, 150));
    simulator_ = &simulator;

    const bool settled = Repeat("list", {"--lista", List(), "--rapporto", Report()}, [&] { return ListSettled(); });
    CheckNumbersOnceAndPaidOnce(settled);
    if (!settled || Now() >= options_.end || index_ % 2 != 0) return;
    ++result_.settled;
    Refresh();
  }

 private:
  using Clock = std::chrono::steady_clock;
  static Clock::time_point Now() { return Clock::now(); }
  std::string List() const { return folder_ + "/clienti.csv"; }
  std::string Report() const { return folder_ + "/rapporto.csv"; }
  std::string Ledger() const { return folder_ + "/richieste.tsv"; }
  std::string Store() const { return folder_ + "/risposte.sqlite"; }

  void Violation(const std::string& what) {
    result_.violations.push_back("list session " + std::to_string(index_) + " (seed " + std::to_string(options_.seed) +
                                 ", folder " + folder_ + "): " + what);
  }

  // A fault for the `attempt`-th run of a step (from 0), drawn from the session's generator.
  Fault DrawFault(int attempt) {
    Fault fault;
    if (attempt >= kFaultFreeFrom) return fault;
    const int draw = random_.Below(100);
    if (draw < 25) {
      fault.kind = FaultKind::Kill;
      fault.signal = SIGKILL;
      fault.delayMs = random_.Between(50, 2500);
    } else if (draw < 40) {
      fault.kind = FaultKind::StopSignal;
      fault.signal = random_.Percent(50) ? SIGTERM : SIGINT;
      fault.delayMs = random_.Between(50, 2500);
    } else if (draw < 52) {
      fault.kind = FaultKind::DatabaseCut;
      fault.connection = random_.Between(1, 2);
      fault.bytes = random_.Between(0, 40000);
      fault.reset = random_.Percent(50);
    } else if (draw < 60) {
      fault.kind = FaultKind::DatabaseSilent;
      fault.connection = random_.Between(1, 2);
      fault.variant = kSilentAtByte;
      fault.bytes = random_.Between(0, 40000);
    }
    return fault;
  }

  // Runs the program with `extra` again and again, each run with a fault drawn, until `settled`
  // says the work is done after a run that ended by itself with 0 or 2. False when it never was.
  bool Repeat(const std::string& step, const std::vector<std::string>& extra, const std::function<bool()>& settled,
              const std::function<void(const RunRecord&)>& afterEach = {}) {
    for (int attempt = 0; attempt < kMostRuns; ++attempt) {
      if (Now() >= options_.end || StopRequested()) return false;
      const RunRecord run = RunOnce(extra, DrawFault(attempt));
      const std::string what = step + " run " + std::to_string(attempt + 1) + " (" + Describe(run.plan.fault) + ")";
      if (run.cutShort) {
        if (Now() < options_.end) Violation(what + " did not end within its bound");
        return false;
      }
      const bool oursKilled = run.endSignal != 0 && run.endSignal == run.plan.fault.signal && run.faultFired;
      if (run.endSignal != 0 && !oursKilled) Violation(what + " ended by signal " + std::to_string(run.endSignal));
      if (run.endSignal == 0) {
        if (run.exitCode < 0 || run.exitCode > 3) Violation(what + " exit code " + std::to_string(run.exitCode));
        if (run.out.empty() || run.out.find_first_not_of(" \r\n") == std::string::npos) {
          Violation(what + " ended without a line (exit " + std::to_string(run.exitCode) + ")");
        }
        if (!run.err.empty()) Violation(what + " wrote on stderr: " + run.err);
      }
      if (options_.verbose) {
        std::cout << "list session " << index_ << ": " << what << ": "
                  << (run.endSignal ? "signal " + std::to_string(run.endSignal)
                                    : "exit " + std::to_string(run.exitCode))
                  << " " << run.out << std::flush;
      }
      if (afterEach) afterEach(run);
      if (run.endSignal == 0 && (run.exitCode == 0 || run.exitCode == 2) && settled()) return true;
    }
    Violation(step + " not settled after " + std::to_string(kMostRuns) + " runs");
    return false;
  }

  RunRecord RunOnce(const std::vector<std::string>& extra, const Fault& fault) {
    RunRecord record;
    record.plan.index = kFirstRunIndex + result_.runs++;
    record.plan.fault = fault;
    if (fault.kind != FaultKind::None) ++result_.faults;
    record.slot = options_.slot;
    record.program = workspace_.ProgramOf(options_.slot);
    record.arguments = extra;
    record.arguments.insert(record.arguments.end(), {"-UTENTE", std::to_string(Workspace::UserOf(options_.slot)),
                                                     "-DITTA", Workspace::kListCompany, "-APITOKEN", "soak-list"});
    record.environment = {"PATH=/usr/bin:/bin",
                          "SSL_CERT_FILE=" + simulator_->CaFile(),
                          "KORVANE_REGISTRY_URL=" + simulator_->Url(),
                          "KORVANE_LEDGER=" + Ledger(),
                          "KORVANE_ANSWER_STORE=" + Store(),
                          "FIREBIRD_LOCK=" + workspace_.LockFolder(),
                          std::string("KORVANE_DB_USER=") + serverlogin::kUser,
                          kPasswordVariable + serverlogin::Password(),
                          "KORVANE_DB_TIMEOUT=" + std::to_string(kDatabaseTimeoutSeconds)};
    relay_.Assign(options_.slot, record.plan.index, fault);
    std::vector<RunRecord> records{record};
    RunRecord& run = records[0];
    StartProcess(run);
    const auto bound = std::min(run.start + kRunBound, options_.end + kPastTheEnd);
    for (;;) {
      ReadOutputs(records, {0}, 50);
      int status = 0;
      if (waitpid(run.pid, &status, WNOHANG) == run.pid) {
        if (WIFEXITED(status)) run.exitCode = WEXITSTATUS(status);
        if (WIFSIGNALED(status)) run.endSignal = WTERMSIG(status);
        break;
      }
      const auto now = Now();
      if (!run.signalDone && fault.signal != 0 && now - run.start >= milliseconds(fault.delayMs)) {
        run.signalDone = true;
        run.faultFired = kill(run.pid, fault.signal) == 0;
      }
      if (now >= bound) {
        run.cutShort = true;
        kill(run.pid, SIGKILL);
        waitpid(run.pid, nullptr, 0);
        break;
      }
    }
    DrainOutputs(run);
    relay_.Assign(options_.slot, -1, Fault{});
    return run;
  }

  // The report of the last run leaves nothing to try again.
  bool ListSettled() {
    for (const auto& cells : ReportRows(Report())) {
      if (cells.size() < 4 || cells[3] == "da riprovare" || cells[3] == "non tentata") return false;
    }
    return true;
  }

  // The archive's rows of the session's numbers: number -> codes.
  std::map<std::string, std::vector<std::string>> ArchiveCodes() {
    std::map<std::string, std::vector<std::string>> codes;
    for (const Row& row : workspace_.ServedListArchive().Query("SELECT CODICE, PI FROM CLIENTI")) {
      const std::string pi = Digits(row[1].value_or(""));
      if (std::find(numbers_.begin(), numbers_.end(), pi) != numbers_.end()) codes[pi].push_back(row[0].value_or(""));
    }
    return codes;
  }

  void CheckNumbersOnceAndPaidOnce(bool settled) {
    const auto codes = ArchiveCodes();
    for (const std::string& number : numbers_) {
      const auto found = codes.find(number);
      const std::size_t rows = found == codes.end() ? 0 : found->second.size();
      if (rows > 1 || (settled && rows != 1))
        Violation(number + " is " + std::to_string(rows) + " times in the archive");
    }

    // The ledger's requests in order, and the store's answers with the request each came from.
    std::vector<std::pair<std::string, std::string>> requests;  // key, number
    for (const std::string& line : Split(ReadFile(Ledger()), '\n')) {
      const std::vector<std::string> fields = Split(line, '\t');
      if (fields.size() == 12 && fields[1] == "richiesta") requests.emplace_back(fields[2], Digits(fields[6]));
    }
    for (const auto& [number, key] : StoredAnswers()) {
      const auto asked = std::find_if(requests.begin(), requests.end(), [&](const auto& r) { return r.first == key; });
      if (asked == requests.end()) {
        Violation("the store's answer for " + number + " names the request " + key + ", not in the ledger");
        continue;
      }
      const auto again = std::find_if(asked + 1, requests.end(), [&](const auto& r) { return r.second == number; });
      if (again != requests.end()) {
        Violation(number + " asked again (request " + again->first + ") while the store held its answer of request " +
                  key);
      }
    }
    if (!settled) return;

    // The last report agrees with the archive and the ledger.
    std::set<std::string> asked;
    for (const auto& request : requests) asked.insert(request.second);
    for (const auto& cells : ReportRows(Report())) {
      if (cells.size() < 7) {
        Violation("a report line of " + std::to_string(cells.size()) + " cells");
        continue;
      }
      const std::string number = Digits(cells[2]);
      const std::string& outcome = cells[3];
      const bool ours = std::find(numbers_.begin(), numbers_.end(), number) != numbers_.end();
      if (outcome == "importato" || outcome == "gi\xC3\xA0 presente" || outcome == "riusato") {
        const auto found = codes.find(number);
        if (!ours || found == codes.end() || found->second.size() != 1 || found->second[0] != cells[4]) {
          Violation("report line " + cells[0] + ": " + outcome + " " + cells[4] + " for " + cells[2] +
                    ", not what the archive holds");
        }
      } else if (outcome != "duplicato" && outcome != "non valido") {
        Violation("report line " + cells[0] + ": " + outcome + " for " + cells[2] + " (" + cells[5] + ")");
      }
      if (cells[6] == "s\xC3\xAC" && asked.count(number) == 0) {
        Violation("report line " + cells[0] + " says " + number + " was paid, the ledger has no request for it");
      }
    }
  }

  // The rows of a query of the session's store, each column as text; none when it cannot be read.
  std::vector<std::vector<std::string>> QueryStore(const char* select) {
    std::vector<std::vector<std::string>> rows;
    sqlite3* store = nullptr;
    if (sqlite3_open_v2(Store().c_str(), &store, SQLITE_OPEN_READONLY, nullptr) == SQLITE_OK) {
      sqlite3_busy_timeout(store, 5000);
      sqlite3_stmt* statement = nullptr;
      if (sqlite3_prepare_v2(store, select, -1, &statement, nullptr) == SQLITE_OK) {
        while (sqlite3_step(statement) == SQLITE_ROW) {
          std::vector<std::string> row;
          for (int column = 0; column < sqlite3_column_count(statement); ++column) {
            const unsigned char* value = sqlite3_column_text(statement, column);
            row.emplace_back(value ? reinterpret_cast<const char*>(value) : "");
          }
          rows.push_back(std::move(row));
        }
      }
      sqlite3_finalize(statement);
    }
    sqlite3_close(store);
    return rows;
  }

  // The store's answers: number, the ledger's key of the request it came from.
  std::vector<std::pair<std::string, std::string>> StoredAnswers() {
    std::vector<std::pair<std::string, std::string>> answers;
    for (const auto& row : QueryStore("SELECT vat_number, ledger_key FROM answers ORDER BY id")) {
      answers.emplace_back(Digits(row[0]), row[1]);
    }
    return answers;
  }

  // The base of each subject: the values korvane wrote last, by code and field.
  std::map<std::string, std::map<std::string, std::string>> Bases() {
    std::map<std::string, std::map<std::string, std::string>> bases;
    for (const auto& row : QueryStore("SELECT s.code, v.field, v.value FROM written_subjects s"
                                      " JOIN written_values v ON v.subject_id = s.id"
                                      " WHERE s.id = (SELECT MAX(id) FROM written_subjects w WHERE w.code = s.code)")) {
      bases[row[0]][row[1]] = row[2];
    }
    return bases;
  }

  // The fields a refresh compares, per code of the session's subjects.
  std::map<std::string, std::vector<std::string>> Subjects() {
    std::map<std::string, std::vector<std::string>> subjects;
    for (const Row& row : workspace_.ServedListArchive().Query(
             "SELECT CODICE, PI, RAGSOC, CF, INDIRIZZO, NUMEROCIVICO, CITTA, PROVINCIA, CAP FROM CLIENTI")) {
      if (std::find(numbers_.begin(), numbers_.end(), Digits(row[1].value_or(""))) == numbers_.end()) continue;
      std::vector<std::string> fields;
      for (std::size_t i = 1; i < row.size(); ++i) fields.push_back(row[i].value_or(""));
      subjects[row[0].value_or("")] = fields;
    }
    return subjects;
  }

  // A person corrects the first subject's name and empties the last one's city; the comparison,
  // stopped and resumed, writes nothing; the merge, stopped and resumed, writes what the last
  // comparison reported to be updated or filled and nothing else, keeps the corrected name and
  // empties nothing.
  void Refresh() {
    ++result_.refreshes;
    const auto imported = Subjects();
    if (imported.size() < 2) return;
    const std::string corrected = imported.begin()->first;
    const std::string emptied = imported.rbegin()->first;
    workspace_.ServedListArchive().Execute(
        {"UPDATE CLIENTI SET RAGSOC = '" + kCorrectedName + "' WHERE CODICE = '" + corrected + "'",
         "UPDATE CLIENTI SET CITTA = NULL WHERE CODICE = '" + emptied + "'"});
    const auto edited = Subjects();
    std::ofstream codes(folder_ + "/codici.txt");
    for (const auto& subject : edited) codes << subject.first << "\n";
    codes.close();
    const std::string differences = folder_ + "/differenze.csv";
    const std::vector<std::string> refresh = {"--aggiorna", "--codici", folder_ + "/codici.txt", "--rapporto",
                                              differences};
    const bool compared = Repeat(
        "comparison", refresh, [] { return true; },
        [&](const RunRecord& run) {
          if (Subjects() != edited)
            Violation("the comparison's run (" + Describe(run.plan.fault) + ") wrote in the archive");
        });
    if (!compared) return;
    // What the comparison says the merge will write: code and field -> the registry's value.
    std::map<std::pair<std::string, std::size_t>, std::string> reported;
    for (const auto& cells : ReportRows(differences)) {
      if (cells.size() < 7 || (cells[6] != "aggiornato" && cells[6] != "compilato")) continue;
      const auto field = std::find(std::begin(kFields), std::end(kFields), cells[2]);
      if (field == std::end(kFields)) continue;  // a column of the company's own (none here)
      reported[{cells[0], static_cast<std::size_t>(field - std::begin(kFields))}] = cells[4];
    }
    const auto basesBefore = Bases();
    std::vector<std::string> apply = refresh;
    apply.push_back("--applica");
    const bool applied = Repeat("merge", apply, [] { return true; });
    const auto merged = Subjects();
    for (const auto& [code, fields] : edited) {
      const auto now = merged.find(code);
      if (now == merged.end()) {
        Violation("the merge removed " + code);
        continue;
      }
      for (std::size_t i = 0; i < fields.size(); ++i) {
        const std::string& value = now->second[i];
        const std::string where = std::string(kFields[i]) + " of " + code;
        const auto update = reported.find({code, i});
        if (!fields[i].empty() && value.empty()) Violation("the merge emptied " + where);
        if (update == reported.end() && value != fields[i]) {
          Violation("the merge changed " + where + " from '" + fields[i] + "' to '" + value + "', not reported");
        }
        if (update != reported.end() && applied && value != update->second) {
          Violation("the merge left " + where + " as '" + value + "', reported as becoming '" + update->second + "'");
        }
      }
      if (code == corrected && now->second[1] != kCorrectedName) {
        Violation("the merge changed the name corrected by hand of " + code + " to " + now->second[1]);
      }
    }
    // A base moves only with what the merge wrote: to the value now in the archive for a field it
    // updated, nowhere for the others (the corrected name's base stays the registry's).
    const auto basesAfter = Bases();
    for (const auto& [code, base] : basesAfter) {
      const auto before = basesBefore.find(code);
      const auto now = merged.find(code);
      if (before == basesBefore.end() || now == merged.end()) continue;
      for (std::size_t i = 0; i < std::size(kFields); ++i) {
        const auto value = base.find(kFields[i]);
        const auto old = before->second.find(kFields[i]);
        if (value == base.end() || old == before->second.end()) continue;
        const bool written = reported.count({code, i}) != 0 && now->second[i] == reported.at({code, i});
        const std::string& expected = written ? now->second[i] : old->second;
        if (value->second != expected) {
          Violation("the base of " + std::string(kFields[i]) + " of " + code + " is '" + value->second + "', not '" +
                    expected + "'");
        }
      }
    }
  }

  const ListSoakOptions& options_;
  Workspace& workspace_;
  DatabaseRelay& relay_;
  ListSoakResult& result_;
  int index_;
  Random random_;
  std::string folder_;
  std::vector<std::string> numbers_;
  Simulator* simulator_ = nullptr;
};

}  // namespace

ListSoakResult RunListSessions(const ListSoakOptions& options, Workspace& workspace, DatabaseRelay& relay) {
  ListSoakResult result;
  while (Clock::now() < options.end && !StopRequested()) {
    Session session(options, workspace, relay, result, result.sessions++);
    session.Run();
  }
  return result;
}

}  // namespace korvane::soak
