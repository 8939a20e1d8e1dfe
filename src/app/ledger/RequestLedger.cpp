#include "app/ledger/RequestLedger.h"

#include <unistd.h>

#include <chrono>
#include <ctime>

#include "platform/Convert.h"
#include "platform/Exception.h"
#include "platform/MessageText.h"
#include "platform/SharedLineFile.h"
#include "platform/Trace.h"
#include "platform/UtcTime.h"

namespace korvane {

namespace {

constexpr const char* kRequestEvent = "richiesta";
constexpr const char* kOutcomeEvent = "esito";

// Lines this much older than the day's start end the count: lines are appended in time order,
// and a clock put back (by a time server) by less than this still counts exactly.
constexpr std::time_t kClockSlack = 3600;

// The time of a line's first field ("2026-01-15T09:30:12Z"); nothing for any other text.
std::optional<std::time_t> StampOf(std::string_view line) {
  return platform::ParseUtcTimeText(line.substr(0, line.find('\t')));
}

// The start of the machine's local day of `now`.
std::time_t LocalDayStart(std::time_t now) {
  std::tm local{};
  localtime_r(&now, &local);
  local.tm_hour = 0;
  local.tm_min = 0;
  local.tm_sec = 0;
  local.tm_isdst = -1;
  return std::mktime(&local);
}

// A field as the ledger holds it: control characters written as blanks, so that a field never
// ends its line nor moves the next one's column.
std::string Field(std::string_view text) {
  std::string field;
  for (const char c : text) field.push_back(static_cast<unsigned char>(c) < 0x20 || c == 0x7F ? ' ' : c);
  return field;
}

// A line of the ledger for the request with this key; `outcome` is the last columns' text, each
// with its tab before it.
std::string Line(std::string_view event, std::string_view key, const LedgerRequest& request, std::string_view outcome) {
  std::string line = platform::UtcTimeText(std::chrono::system_clock::now());
  for (const std::string& field : {std::string(event), std::string(key), std::to_string(request.user), request.company,
                                   std::string(1, request.kind), request.vatNumber, request.host, request.path}) {
    line += "\t" + Field(field);
  }
  return line + std::string(outcome) + "\n";
}

// A "richiesta" line of the local day that began at `dayStart`.
bool IsRequestOfDay(std::string_view line, std::time_t dayStart) {
  const std::optional<std::time_t> stamp = StampOf(line);
  if (!stamp || *stamp < dayStart) return false;
  const std::size_t tab = line.find('\t');
  return line.substr(tab + 1, line.find('\t', tab + 1) - tab - 1) == kRequestEvent;
}

}  // namespace

LedgerOptions ReadLedgerOptions(const char* ledger, const char* dailyLimit) {
  LedgerOptions options;
  if (ledger != nullptr) options.path = ledger;
  if (dailyLimit == nullptr || *dailyLimit == '\0') return options;
  const auto limit = platform::DigitsValue(dailyLimit, 10, INT64_MAX);
  if (!limit) throw Exception("Limite giornaliero non valido (KORVANE_DAILY_LIMIT)");
  if (options.path.empty()) throw Exception("Limite giornaliero senza giornale delle richieste (KORVANE_LEDGER)");
  options.dailyLimit = static_cast<std::int64_t>(*limit);
  return options;
}

RequestLedger::RequestLedger(LedgerOptions options) : options_(std::move(options)) {
  try {
    file_ = std::make_unique<platform::SharedLineFile>(options_.path);
  } catch (const Exception& error) {
    RaiseNotWritable(error.Message());
  }
}

RequestLedger::~RequestLedger() = default;

void RequestLedger::RaiseNotWritable(std::string_view reason) const {
  throw Exception("Giornale delle richieste non scrivibile (" + platform::OutsideTextForMessage(options_.path) + ": " +
                  std::string(reason) + ")");
}

std::int64_t RequestLedger::RequestsToday() {
  const std::time_t dayStart = LocalDayStart(std::time(nullptr));
  const off_t end = file_->WholeLinesEnd();
  if (day_ && day_->dayStart == dayStart && day_->countedTo <= end && file_->LineStartsAt(day_->countedTo)) {
    // Only what was appended since: the cost of a request does not grow with the day's count.
    file_->ReadLines(day_->countedTo, end, [&](std::string_view line) {
      if (IsRequestOfDay(line, dayStart)) ++day_->requests;
    });
    day_->countedTo = end;
    return day_->requests;
  }
  // The first look, a new day, or a file cut shorter meanwhile: the day read whole, backwards.
  std::int64_t requests = 0;
  file_->ReadLinesBackwards([&](std::string_view line) {
    const std::optional<std::time_t> stamp = StampOf(line);
    if (!stamp) return true;
    if (*stamp < dayStart - kClockSlack) return false;
    if (IsRequestOfDay(line, dayStart)) ++requests;
    return true;
  });
  day_ = DayCount{dayStart, end, requests};
  return requests;
}

std::string RequestLedger::RecordRequest(const LedgerRequest& request) {
  std::int64_t today = 0;
  bool limitReached = false;
  std::string key;
  try {
    const std::lock_guard<std::mutex> threads(mutex_);
    const auto lock = file_->Lock(kLedgerLockWait);
    if (options_.dailyLimit) {
      today = RequestsToday();
      limitReached = today >= *options_.dailyLimit;
    }
    if (!limitReached) {
      const std::string next = std::to_string(::getpid()) + "." + std::to_string(count_ + 1);
      std::string lines = Line(kRequestEvent, next, request, "\t\t\t");
      if (file_->Empty()) lines.insert(0, std::string(kLedgerColumns) + "\n");
      const off_t end = file_->Append(lines);
      ++count_;
      key = next;
      unsettled_.emplace(key, request);
      if (day_) {
        day_->countedTo = end;
        ++day_->requests;
      }
    }
  } catch (const Exception& error) {
    RaiseNotWritable(error.Message());
  }
  const std::string count =
      options_.dailyLimit ? std::to_string(today) + " of " + std::to_string(*options_.dailyLimit) + " before it" : "";
  if (limitReached) {
    platform::trace::Step("ledger: daily limit reached, " + count);
    throw Exception("Limite giornaliero di richieste al registro raggiunto (" + std::to_string(*options_.dailyLimit) +
                    ")");
  }
  platform::trace::Step("ledger: request " + key + " recorded" + (count.empty() ? "" : ", " + count));
  return key;
}

void RequestLedger::RecordOutcome(std::string_view key, std::string_view status, int exitCode,
                                  std::string_view message) noexcept {
  try {
    const std::lock_guard<std::mutex> threads(mutex_);
    const auto request = unsettled_.find(key);
    if (request == unsettled_.end()) return;
    const LedgerRequest recorded = std::move(request->second);
    unsettled_.erase(request);
    const std::string line = Line(kOutcomeEvent, key, recorded,
                                  "\t" + Field(status) + "\t" + std::to_string(exitCode) + "\t" + Field(message));
    const auto lock = file_->Lock(kLedgerLockWait);
    file_->Append(line);
    platform::trace::Step("ledger: outcome recorded");
  } catch (const std::exception& error) {
    platform::trace::Step(std::string("ledger: outcome not recorded: ") + error.what());
  }
}

}  // namespace korvane
