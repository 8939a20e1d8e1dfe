// The ledger of paid requests against a disk that fills up and a tail torn by a crash, as runs of
// the built program meet them with the offline simulator: the daily limit still holds, every line
// is whole, and each request that left has its "richiesta" line.
#include <sys/mount.h>

#include <gtest/gtest.h>

#include <ctime>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <map>
#include <sstream>
#include <string>
#include <vector>

#include "app/ledger/RequestLedger.h"
#include "support/ProgramFolder.h"
#include "support/RegistrySimulator.h"
#include "support/RunProgram.h"
#include "support/TempDir.h"

namespace korvane {
namespace {

using testing::RegistrySimulator;

const std::vector<std::string> kKnown = {"12485671007", "00743110157", "01234560017"};

std::string ReadFile(const std::string& path) {
  std::ifstream file(path, std::ios::binary);
  return {std::istreambuf_iterator<char>(file), {}};
}

std::string Stamp(std::time_t time) {
  std::tm utc{};
  gmtime_r(&time, &utc);
  char text[32];
  std::strftime(text, sizeof text, "%Y-%m-%dT%H:%M:%SZ", &utc);
  return text;
}

// The ledger's lines split at tabs; a ledger whose lines are not all whole and of the ledger's
// twelve columns fails the test.
std::vector<std::vector<std::string>> WholeLines(const std::string& path) {
  const std::string text = ReadFile(path);
  EXPECT_TRUE(text.empty() || text.back() == '\n') << "a tail without its line end";
  std::vector<std::vector<std::string>> lines;
  std::istringstream in(text);
  for (std::string line; std::getline(in, line);) {
    std::vector<std::string> fields;
    std::size_t start = 0;
    for (std::size_t tab; (tab = line.find('\t', start)) != std::string::npos; start = tab + 1) {
      fields.push_back(line.substr(start, tab - start));
    }
    fields.push_back(line.substr(start));
    EXPECT_EQ(fields.size(), 12u) << line;
    lines.push_back(fields);
  }
  return lines;
}

// "<event> <VAT number>" for each request and outcome (the earlier days' lines, whose number is
// "-", left out), with an outcome's key checked against its request's.
std::vector<std::string> Events(const std::string& path) {
  std::vector<std::string> events;
  std::map<std::string, std::string> requests;  // key -> VAT number
  for (const auto& fields : WholeLines(path)) {
    if (fields.size() != 12u || fields[1] == "evento" || fields[6] == "-") continue;
    if (fields[1] == "richiesta") requests[fields[2]] = fields[6];
    if (fields[1] == "esito") {
      EXPECT_EQ(requests[fields[2]], fields[6]) << "an outcome without its request";
    }
    events.push_back(fields[1] + " " + fields[6]);
  }
  return events;
}

class LedgerFaultsTest : public ::testing::Test {
 protected:
  // An import of the number, with the ledger at `ledger` and a daily limit of 2: its line and exit.
  std::string Import(const std::string& vatNumber, const std::string& ledger) {
    const testing::ProgramResult result = testing::RunProgram(
        folder_.Program(), {"-UTENTE", "5", "-DITTA", "01", "-PIVA", vatNumber, "-APITOKEN", "segreto"},
        {{"SSL_CERT_FILE", registry_.CaFile()},
         {"KORVANE_REGISTRY_URL", registry_.Url("/base/")},
         {"KORVANE_LEDGER", ledger},
         {"KORVANE_DAILY_LIMIT", "2"}});
    EXPECT_EQ(result.err, "");
    return result.out + "exit " + std::to_string(result.exitCode);
  }

  std::size_t Customers() const { return folder_.Customers().size(); }

  testing::TempDir dir_;
  testing::ProgramFolder folder_{KORVANE_BINARY};
  RegistrySimulator registry_{KORVANE_SIMULATOR, kKnown};
};

// A paid request whose outcome line was torn (the disk filled, the machine stopped): the next
// run's line used to join the fragment and be read as an outcome, so that request was not
// counted and two more were paid under a limit of 2.
TEST_F(LedgerFaultsTest, ATornTailNeitherHidesAPaidRequestNorJoinsTheNextLine) {
  const std::string ledger = dir_.File("richieste.tsv");
  const std::string earlier = Stamp(std::time(nullptr)) + "\trichiesta\t9.1\t5\t01\tC\t02345678902\th\t/base/x\t";
  std::ofstream(ledger, std::ios::binary) << kLedgerColumns << "\n"
                                          << earlier << "\t\t\n"
                                          << Stamp(std::time(nullptr)) << "\tesito\t9.1\t5\t01\tC\t0234";
  const std::size_t before = Customers();
  EXPECT_EQ(Import(kKnown[0], ledger).substr(4), "\r\nexit 0");
  EXPECT_EQ(Import(kKnown[1], ledger), "Limite giornaliero di richieste al registro raggiunto (2)\r\nexit 1");
  EXPECT_EQ(Customers(), before + 1);
  EXPECT_EQ(Events(ledger),
            (std::vector<std::string>{"richiesta 02345678902", "richiesta " + kKnown[0], "esito " + kKnown[0]}));
}

// On a small filesystem that fills up: a request whose outcome line finds no room keeps its
// request line; a run whose own request line finds none refuses before paying and leaves nothing;
// once there is room again the request paid earlier counts against the limit.
TEST_F(LedgerFaultsTest, AFullDiskNeverLetsARequestGoUnrecordedNorTheLimitBeExceeded) {
  const std::string small = dir_.File("small");
  std::filesystem::create_directory(small);
  if (::mount("tmpfs", small.c_str(), "tmpfs", 0, "size=16k") != 0) GTEST_SKIP() << "no tmpfs mount here";
  const std::string ledger = small + "/richieste.tsv";
  {
    // Earlier days' lines up to 140 bytes short of the first page's end: room for one request's
    // line (under 100 bytes) but not for its outcome's as well; then the rest of the disk filled.
    std::string text = std::string(kLedgerColumns) + "\n";
    const std::string old = Stamp(std::time(nullptr) - 5 * 86400) + "\trichiesta\t1.1\t5\t01\tC\t-\th\t/p\t\t\t";
    while (text.size() + 2 * (old.size() + 1) < 4096 - 140) text += old + "\n";
    text += old + std::string(4096 - 140 - text.size() - old.size() - 1, 'p') + "\n";
    std::ofstream(ledger, std::ios::binary) << text;
    std::ofstream filler(small + "/filler", std::ios::binary);
    const std::string block(4096, 'f');
    for (int i = 0; i < 16 && filler.write(block.data(), block.size()); ++i) {
    }
  }
  const std::size_t before = Customers();
  EXPECT_EQ(Import(kKnown[0], ledger).substr(4), "\r\nexit 0");  // paid; its outcome had no room
  const std::string afterPaid = ReadFile(ledger);
  EXPECT_EQ(Import(kKnown[1], ledger),
            "Giornale delle richieste non scrivibile (" + ledger + ": No space left on device)\r\nexit 1");
  EXPECT_EQ(ReadFile(ledger), afterPaid);
  EXPECT_EQ(Customers(), before + 1);

  std::filesystem::remove(small + "/filler");
  EXPECT_EQ(Import(kKnown[1], ledger).substr(4), "\r\nexit 0");
  EXPECT_EQ(Import(kKnown[2], ledger), "Limite giornaliero di richieste al registro raggiunto (2)\r\nexit 1");
  EXPECT_EQ(Customers(), before + 2);
  EXPECT_EQ(Events(ledger),
            (std::vector<std::string>{"richiesta " + kKnown[0], "richiesta " + kKnown[1], "esito " + kKnown[1]}));
  ::umount(small.c_str());
}

}  // namespace
}  // namespace korvane
