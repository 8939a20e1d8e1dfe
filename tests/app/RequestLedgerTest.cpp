// The ledger of paid requests and the daily limit counted from it: the lines as a firm reads
// them, the refusals before a request, and the limit held exactly by processes asking at once.
#include "app/ledger/RequestLedger.h"

#include <sys/wait.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <ctime>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <vector>

#include "support/ErrorOf.h"
#include "support/TempDir.h"

namespace korvane {
namespace {

std::vector<std::string> Lines(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  std::vector<std::string> lines;
  for (std::string line; std::getline(in, line);) lines.push_back(line);
  return lines;
}

std::vector<std::string> Fields(const std::string& line) {
  std::vector<std::string> fields;
  std::size_t start = 0;
  for (std::size_t tab; (tab = line.find('\t', start)) != std::string::npos; start = tab + 1) {
    fields.push_back(line.substr(start, tab - start));
  }
  fields.push_back(line.substr(start));
  return fields;
}

std::string Stamp(std::time_t time) {
  std::tm utc{};
  gmtime_r(&time, &utc);
  char text[32];
  std::strftime(text, sizeof text, "%Y-%m-%dT%H:%M:%SZ", &utc);
  return text;
}

const LedgerRequest kRequest{5, "01", 'C', "01234567890", "registry.example:8443", "/IT-start/01234567890"};

TEST(ReadLedgerOptions, TheVariables) {
  struct Case {
    const char* ledger;
    const char* limit;
    std::string outcome;
  };
  const Case cases[] = {
      {nullptr, nullptr, " none"},
      {"/l", nullptr, "/l none"},
      {"/l", "", "/l none"},
      {"/l", "5", "/l 5"},
      {"/l", "0", "/l 0"},
      {"/l", "007", "/l 7"},
      {"", "", " none"},
      {"/l", "-1", "error: Limite giornaliero non valido (KORVANE_DAILY_LIMIT)"},
      {"/l", "+5", "error: Limite giornaliero non valido (KORVANE_DAILY_LIMIT)"},
      {"/l", " 5", "error: Limite giornaliero non valido (KORVANE_DAILY_LIMIT)"},
      {"/l", "5x", "error: Limite giornaliero non valido (KORVANE_DAILY_LIMIT)"},
      {"/l", "99999999999999999999", "error: Limite giornaliero non valido (KORVANE_DAILY_LIMIT)"},
      {nullptr, "5", "error: Limite giornaliero senza giornale delle richieste (KORVANE_LEDGER)"},
      {"", "5", "error: Limite giornaliero senza giornale delle richieste (KORVANE_LEDGER)"},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(testing::OutcomeOf([&] {
                const LedgerOptions options = ReadLedgerOptions(c.ledger, c.limit);
                return options.path + " " + (options.dailyLimit ? std::to_string(*options.dailyLimit) : "none");
              }),
              c.outcome)
        << (c.ledger ? c.ledger : "-") << " " << (c.limit ? c.limit : "-");
  }
}

TEST(RequestLedger, ARequestAndItsOutcome) {
  testing::TempDir dir;
  const std::string path = dir.File("richieste.tsv");
  const std::time_t before = std::time(nullptr);
  {
    RequestLedger ledger({path, std::nullopt});
    ledger.RecordOutcome("1.1", "200", 0, "0124");  // no such request: nothing
    const std::string key = ledger.RecordRequest(kRequest);
    EXPECT_EQ(key, std::to_string(::getpid()) + ".1");
    ledger.RecordOutcome(key, "HTTP/1.1 402\tPayment Required", 1, "Fallita scrittura su database\rriga 1\r\nriga 2");
    ledger.RecordOutcome(key, "200", 0, "0124");  // settled already: nothing
  }
  const std::vector<std::string> lines = Lines(path);
  ASSERT_EQ(lines.size(), 3u);
  EXPECT_EQ(lines[0], kLedgerColumns);
  const std::vector<std::string> request = Fields(lines[1]);
  const std::vector<std::string> outcome = Fields(lines[2]);
  ASSERT_EQ(request.size(), 12u);
  ASSERT_EQ(outcome.size(), 12u);
  EXPECT_TRUE(request[0] == Stamp(before) || request[0] == Stamp(before + 1)) << request[0];
  const std::string number = std::to_string(::getpid()) + ".1";
  EXPECT_EQ(std::vector<std::string>(request.begin() + 1, request.end()),
            (std::vector<std::string>{"richiesta", number, "5", "01", "C", "01234567890", "registry.example:8443",
                                      "/IT-start/01234567890", "", "", ""}));
  EXPECT_EQ(std::vector<std::string>(outcome.begin() + 1, outcome.end()),
            (std::vector<std::string>{"esito", number, "5", "01", "C", "01234567890", "registry.example:8443",
                                      "/IT-start/01234567890", "HTTP/1.1 402 Payment Required", "1",
                                      "Fallita scrittura su database riga 1  riga 2"}));
  EXPECT_EQ(std::filesystem::status(path).permissions(),
            std::filesystem::perms::owner_read | std::filesystem::perms::owner_write);

  // A second run appends, with no second header, and its outcome refers to its own request.
  RequestLedger again({path, std::nullopt});
  LedgerRequest tab = kRequest;
  tab.company = "0\t1";
  again.RecordRequest(tab);
  const std::vector<std::string> more = Lines(path);
  ASSERT_EQ(more.size(), 4u);
  EXPECT_EQ(Fields(more[3])[4], "0 1");
}

TEST(RequestLedger, ALedgerThatCannotBeWrittenStopsTheRequest) {
  testing::TempDir dir;
  std::filesystem::create_directory(dir.File("folder"));
  std::ofstream(dir.File("target")) << "";
  std::filesystem::create_symlink(dir.File("target"), dir.File("link"));
  const std::pair<std::string, std::string> cases[] = {
      {dir.File("folder"), "not a regular file"},
      {dir.File("link"), "symbolic link"},
      {dir.File("missing/ledger"), "No such file or directory"},
  };
  for (const auto& [path, reason] : cases) {
    EXPECT_EQ(testing::ErrorOf([&] {
                RequestLedger ledger({path, std::nullopt});
              }),
              "Giornale delle richieste non scrivibile (" + path + ": " + reason + ")");
  }
  EXPECT_EQ(std::filesystem::file_size(dir.File("target")), 0u);
}

TEST(RequestLedger, TheLimitCountsTheRequestsOfTheLocalDay) {
  testing::TempDir dir;
  const std::string path = dir.File("richieste.tsv");
  const std::time_t now = std::time(nullptr);
  std::ofstream(path) << kLedgerColumns << "\n"
                      << Stamp(now - 3 * 86400) << "\trichiesta\t1.1\n"
                      << Stamp(now - 2 * 86400) << "\trichiesta\t1.2\n"
                      << "not a line of the ledger\n"
                      << Stamp(now) << "\trichiesta\t2.1\n"
                      << Stamp(now) << "\tesito\t2.1\t5\t01\tC\t1\th\t/p\t200\t0\t0124\n"
                      << Stamp(now) << "\trichiesta\t3.1\n";
  RequestLedger ledger({path, 4});
  const std::string first = ledger.RecordRequest(kRequest);
  const std::string second = ledger.RecordRequest(kRequest);
  const std::size_t written = Lines(path).size();
  EXPECT_EQ(testing::ErrorOf([&] { ledger.RecordRequest(kRequest); }),
            "Limite giornaliero di richieste al registro raggiunto (4)");
  EXPECT_EQ(Lines(path).size(), written);  // the refused request is not recorded
  // Outcomes in any order, each on its own request's line.
  ledger.RecordOutcome(second, "200", 0, "0126");
  ledger.RecordOutcome(first, "200", 0, "0125");
  const std::vector<std::string> lines = Lines(path);
  EXPECT_EQ(Fields(lines[lines.size() - 2])[2] + " " + Fields(lines[lines.size() - 2])[11], second + " 0126");
  EXPECT_EQ(Fields(lines.back())[2] + " " + Fields(lines.back())[11], first + " 0125");

  const std::string none = dir.File("none.tsv");
  EXPECT_EQ(testing::ErrorOf([&] {
              RequestLedger({none, 0}).RecordRequest(kRequest);
            }),
            "Limite giornaliero di richieste al registro raggiunto (0)");
  EXPECT_EQ(std::filesystem::file_size(none), 0u);
}

// Bytes this process has read through the system so far.
long long BytesRead() {
  std::ifstream io("/proc/self/io");
  for (std::string name, value; io >> name >> value;) {
    if (name == "rchar:") return std::stoll(value);
  }
  return -1;
}

// A long list on one session: the day is read once, then only what others appended, so that a
// request's cost does not grow with the day's count; the count stays exact with two writers.
TEST(RequestLedger, TheDayIsReadOnceThenOnlyWhatWasAppended) {
  testing::TempDir dir;
  const std::string path = dir.File("richieste.tsv");
  constexpr int kEarlier = 100000;
  {
    std::ofstream out(path, std::ios::binary);
    out << kLedgerColumns << "\n";
    const std::string line = Stamp(std::time(nullptr)) + "\trichiesta\t9.1\t5\t01\tC\t01234567890\th\t/p\t\t\t\n";
    for (int i = 0; i < kEarlier; ++i) out << line;
  }
  const auto size = static_cast<long long>(std::filesystem::file_size(path));
  if (BytesRead() < 0) GTEST_SKIP() << "no /proc/self/io here";
  RequestLedger ledger({path, kEarlier + 30});
  RequestLedger other({path, kEarlier + 30});  // another run's, on its own descriptor

  long long before = BytesRead();
  ledger.RecordRequest(kRequest);
  const long long first = BytesRead() - before;
  EXPECT_GE(first, size);
  other.RecordRequest(kRequest);

  before = BytesRead();
  for (int i = 0; i < 13; ++i) {
    ledger.RecordOutcome(ledger.RecordRequest(kRequest), "200", 0, "0124");
    other.RecordRequest(kRequest);
  }
  const long long later = BytesRead() - before;
  EXPECT_LT(later, first / 20) << "bytes read by 26 requests after the first " << later << ", by the first " << first;

  // Both see each other's requests: the 31st of the day is refused by either.
  ledger.RecordRequest(kRequest);
  ledger.RecordRequest(kRequest);
  EXPECT_EQ(testing::ErrorOf([&] { other.RecordRequest(kRequest); }),
            "Limite giornaliero di richieste al registro raggiunto (" + std::to_string(kEarlier + 30) + ")");
  EXPECT_EQ(testing::ErrorOf([&] { ledger.RecordRequest(kRequest); }),
            "Limite giornaliero di richieste al registro raggiunto (" + std::to_string(kEarlier + 30) + ")");

  // A file cut shorter meanwhile (rotated by copying and truncating) is counted again.
  std::filesystem::resize_file(path, 0);
  const std::string key = other.RecordRequest(kRequest);
  EXPECT_EQ(Lines(path).size(), 2u);
  EXPECT_EQ(Fields(Lines(path).back())[2], key);
}

// Runs asking at once: counting and recording under one lock lets exactly the limit through.
TEST(RequestLedger, TwentyAtOnceWithALimitOfFiveRecordFive) {
  testing::TempDir dir;
  const std::string path = dir.File("richieste.tsv");
  int pipe[2];
  ASSERT_EQ(::pipe(pipe), 0);
  std::vector<pid_t> pids;
  for (int i = 0; i < 20; ++i) {
    const pid_t pid = ::fork();
    if (pid == 0) {
      char go = 0;
      ::close(pipe[1]);
      // All wait here and start together.
      if (::read(pipe[0], &go, 1) < 0) ::_exit(3);
      try {
        RequestLedger ledger({path, 5});
        ledger.RecordOutcome(ledger.RecordRequest(kRequest), "200", 0, "0124");
        ::_exit(0);
      } catch (const Exception& error) {
        ::_exit(error.Message() == "Limite giornaliero di richieste al registro raggiunto (5)" ? 2 : 3);
      }
    }
    pids.push_back(pid);
  }
  ::close(pipe[0]);
  ::close(pipe[1]);  // every reader wakes with end of file
  int recorded = 0, refused = 0;
  for (const pid_t pid : pids) {
    int status = 0;
    ::waitpid(pid, &status, 0);
    ASSERT_TRUE(WIFEXITED(status));
    recorded += WEXITSTATUS(status) == 0;
    refused += WEXITSTATUS(status) == 2;
  }
  EXPECT_EQ(recorded, 5);
  EXPECT_EQ(refused, 15);
  const std::vector<std::string> lines = Lines(path);
  ASSERT_EQ(lines.size(), 11u);
  EXPECT_EQ(lines[0], kLedgerColumns);
  int requests = 0;
  for (const std::string& line : lines) requests += Fields(line)[1] == "richiesta";
  EXPECT_EQ(requests, 5);
}

}  // namespace
}  // namespace korvane
