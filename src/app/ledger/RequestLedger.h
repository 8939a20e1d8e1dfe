#pragma once

#include <sys/types.h>

#include <chrono>
#include <ctime>
#include <cstdint>
#include <map>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <string_view>

namespace korvane {

namespace platform {
class SharedLineFile;
}  // namespace platform

// What the environment asks of the ledger of paid requests: its file (KORVANE_LEDGER; empty: no
// ledger) and the most requests of one local day of the machine (KORVANE_DAILY_LIMIT; none: no
// limit).
struct LedgerOptions {
  std::string path;
  std::optional<std::int64_t> dailyLimit;
};

// Reads the two variables' values (nullptr when not set; an empty value is not set either).
// Raises "Limite giornaliero non valido (KORVANE_DAILY_LIMIT)" for a limit that is not a whole
// number of 0 or more, and "Limite giornaliero senza giornale delle richieste (KORVANE_LEDGER)"
// for a limit without a ledger, which it is counted from.
LedgerOptions ReadLedgerOptions(const char* ledger, const char* dailyLimit);

// One request for the registry as the ledger records it.
struct LedgerRequest {
  std::int32_t user = 0;
  std::string company;
  char kind = 'C';        // C or F
  std::string vatNumber;  // as sent
  std::string host;       // the registry's host, with the port when the address gives one
  std::string path;       // the request's path, without the query
};

// The ledger's columns, its first line: the UTC time, the event ("richiesta" before the request
// is sent, "esito" after), the request's key (the process and a count in it, which ties an
// outcome to its request), then the request's user, company, kind, VAT number, host and path, and
// for an outcome the HTTP status (or the failure), the exit code and the run's message.
inline constexpr const char* kLedgerColumns =
    "ora_utc\tevento\trichiesta\tutente\tditta\ttipo\tpartita_iva\thost\tpercorso\tesito\tcodice_uscita\tmessaggio";

// How long a run waits for the ledger's lock, which the others hold only to count and append.
inline constexpr std::chrono::seconds kLedgerLockWait{10};

// The ledger of paid requests: tab-separated UTF-8 lines ended by LF, appended by concurrent runs
// under the file's lock. A field's control characters (a tab, the line breaks of an engine's
// message) are written as blanks. A "richiesta" line without its "esito" is a request whose run
// ended before it could say how it went (it was killed).
class RequestLedger {
 public:
  // Opens (or creates, mode 0600) the file with the trace's rules; raises "Giornale delle
  // richieste non scrivibile (<path>: <reason>)" when it cannot be used.
  explicit RequestLedger(LedgerOptions options);
  ~RequestLedger();
  RequestLedger(const RequestLedger&) = delete;
  RequestLedger& operator=(const RequestLedger&) = delete;

  // Before the request leaves, under the lock: with a limit, counts the "richiesta" lines of the
  // machine's local day and raises "Limite giornaliero di richieste al registro raggiunto (<n>)"
  // when they are n already; then records the request and returns its key. Counting and
  // recording under one lock makes the limit exact however many runs ask at once. The day is read
  // whole once; afterwards only what was appended since the last look is. Raises "Giornale delle
  // richieste non scrivibile (...)" when the line cannot be written: the request is then not sent.
  // Safe to call from several threads at once.
  std::string RecordRequest(const LedgerRequest& request);

  // After it, the outcome of the request with this key: the HTTP status or the failure, the exit
  // code and the run's message. Never raises (the request is paid already): a line that cannot be
  // written is noted in the trace. Nothing for a key this ledger did not return, or returned and
  // settled already.
  void RecordOutcome(std::string_view key, std::string_view status, int exitCode, std::string_view message) noexcept;

 private:
  // The day's requests as counted last: up to where the file was read, of which local day.
  struct DayCount {
    std::time_t dayStart = 0;
    off_t countedTo = 0;
    std::int64_t requests = 0;
  };

  // The requests recorded since the local day began; called under the lock.
  std::int64_t RequestsToday();
  [[noreturn]] void RaiseNotWritable(std::string_view reason) const;

  LedgerOptions options_;
  std::unique_ptr<platform::SharedLineFile> file_;
  // The file's lock does not keep this process's threads apart: this does.
  std::mutex mutex_;
  std::int64_t count_ = 0;
  std::optional<DayCount> day_;
  // The requests recorded and not yet given their outcome, by key.
  std::map<std::string, LedgerRequest, std::less<>> unsettled_;
};

}  // namespace korvane
