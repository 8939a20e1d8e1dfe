#pragma once

// What the soak runs: the companies and VAT numbers it works over, and every run's parameters and
// fault, drawn from the seed alone (run by run, so that one run can be drawn again by its index).

#include <cstdint>
#include <string>
#include <vector>

namespace korvane::soak {

// A small generator whose sequence is fixed by its seed on every platform (splitmix64).
class Random {
 public:
  explicit Random(std::uint64_t seed) : state_(seed) {}
  std::uint64_t Next();
  // In [0, n).
  int Below(int n) { return static_cast<int>(Next() % static_cast<std::uint64_t>(n)); }
  // In [low, high].
  int Between(int low, int high) { return low + Below(high - low + 1); }
  bool Percent(int percent) { return Below(100) < percent; }

 private:
  std::uint64_t state_;
};

// The generator of one stream (runs, groups) at one index, for a seed.
Random StreamOf(std::uint64_t seed, std::uint64_t stream, std::uint64_t index);

// What a company does with a VAT number already stored ("PartitaIvaPresente..."): nothing,
// "Riusa" or "Rifiuta".
enum class ExistingRule { Off, Reuse, Refuse };

// The two tables: customers (CLIENTI, -TIPOSOGGETTO C) and suppliers (FORNITO, F).
inline constexpr int kTables = 2;
inline constexpr const char* kTableNames[kTables] = {"CLIENTI", "FORNITO"};
inline constexpr const char* kKindSwitches[kTables] = {"C", "F"};
inline constexpr const char* kTableWords[kTables] = {"Clienti", "Fornitori"};

// A company of the users database with its archive, through the server or embedded, and its
// import settings. Settings are fixed for the whole soak, so what they promise can be checked.
struct Company {
  std::string ditta;
  bool embedded = false;
  ExistingRule existing[kTables] = {ExistingRule::Off, ExistingRule::Off};
  bool refuseCeased[kTables] = {false, false};
  bool checkVatNumber = false;
  int codeWidth[kTables] = {6, 6};
  // The settings' values as stored (letter case and blanks vary, as an administrator types them).
  std::string existingText[kTables];
  std::string ceasedText[kTables];
  std::string checkText;
};

const std::vector<Company>& Companies();

// A VAT number of the pool: 11 digits, valid or not by its check digit, of an active or a ceased
// company; a seeded one is already stored in every table, written with blanks, dots and "IT".
struct PoolNumber {
  std::string digits;
  bool valid = true;
  bool ceased = false;
  bool seeded = false;
  std::string seededAs;  // how the seeded row writes it
};

const std::vector<PoolNumber>& VatPool();

// The stored form without blanks, "." and "-", then without a leading "IT" in any letter case.
std::string NormalizeVat(const std::string& text);

enum class FaultKind {
  None,
  StopSignal,         // SIGTERM or SIGINT after `delayMs`
  Kill,               // SIGKILL after `delayMs`
  DatabaseCut,        // the run's `connection`-th database connection cut after `bytes` bytes
  DatabaseSilent,     // the run's `connection`-th database connection stops forwarding (`variant`), sockets open
  RegistryRefuse,     // every registry connection closed as soon as it is accepted
  RegistryHandshake,  // the TLS handshake fails (`variant`: garbage, early close, untrusted, wrong name)
  RegistryDropIdle,   // the first registry connection closed after the handshake, before the request
  RegistryNoAnswer,   // the request read, the connection closed without an answer
  RegistryStall,      // the answer after `delayMs`
  RegistryHang,       // no answer, ever
  RegistryDrip,       // the answer `chunk` bytes at a time, `delayMs` apart
  RegistryGarbage,    // something that is not a proper answer (`variant`)
  RegistryHttpError,  // an error status (`status`)
  StdoutClosed,       // descriptor 1 closed at start
  StdoutFull,         // standard output is /dev/full
  StdoutBlocked,      // a pipe already full that nobody reads
  StdoutGone,         // a pipe whose reader has gone before the start
  StdoutAbandoned,    // the reader goes away after `delayMs`
};

struct Fault {
  FaultKind kind = FaultKind::None;
  int signal = 0;
  int delayMs = 0;
  int connection = 0;
  int bytes = 0;
  bool reset = false;        // a reset instead of an orderly close
  bool refuseLater = false;  // DatabaseCut: later connections of the run are refused
  int request = 0;           // DatabaseSilent: the client's request (1-based) the silence falls at
  int variant = 0;
  int status = 0;
  int chunk = 0;
};

std::string FaultKindName(FaultKind kind);
// The fault in words, for the report.
std::string Describe(const Fault& fault);
bool IsRegistryFault(FaultKind kind);
bool IsDatabaseFault(FaultKind kind);
bool IsStdoutFault(FaultKind kind);

// Where a database connection goes silent: at a byte of either direction (`bytes`), or at the
// client's `request`-th request, which is never passed on, or is passed on and its answer never
// comes back.
enum SilenceVariant { kSilentAtByte, kSilentRequestLost, kSilentAnswerLost, kSilenceVariants };

// Variants of RegistryHandshake and RegistryGarbage.
inline constexpr int kHandshakeVariants = 4;
inline constexpr int kGarbageVariants = 8;

struct RunPlan {
  int index = 0;
  int group = 0;
  int company = 0;               // into Companies()
  int table = 0;                 // 0 customers, 1 suppliers
  int vat = 0;                   // into VatPool()
  std::string piva;              // as given on the command line
  bool successorFormat = false;  // the registry address ends in /IT-start/
  bool tokenInEnvironment = false;
  bool chunkedAnswer = false;
  Fault fault;
};

// A group: runs started at the same moment, most of them on one company, table and number.
struct GroupPlan {
  int index = 0;
  std::vector<RunPlan> runs;
};

// The groups in order; run indices follow on from group to group.
class Planner {
 public:
  // Without `silence`, a run drawn with a silent database has no fault (the other runs are drawn
  // the same): for a program whose database calls have no bound.
  Planner(std::uint64_t seed, int maxGroupSize, bool silence = true)
      : seed_(seed), maxGroupSize_(maxGroupSize), silence_(silence) {}
  GroupPlan NextGroup();
  // The one run of this index, as the soak draws it, and the group it belongs to.
  RunPlan Run(int index, int group) const;
  int GroupOf(int index) const;
  // The indices of a group's runs.
  std::vector<int> RunsOf(int group) const;

 private:
  std::uint64_t seed_;
  int maxGroupSize_;
  bool silence_;
  int nextGroup_ = 0;
  int nextRun_ = 0;
};

}  // namespace korvane::soak
