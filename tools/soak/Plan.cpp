#include "Plan.h"

#include <algorithm>
#include <csignal>
#include <iterator>

namespace korvane::soak {

std::uint64_t Random::Next() {
  std::uint64_t z = (state_ += 0x9E3779B97F4A7C15ULL);
  z = (z ^ (z >> 30)) * 0xBF58476D1CE4E5B9ULL;
  z = (z ^ (z >> 27)) * 0x94D049BB133111EBULL;
  return z ^ (z >> 31);
}

Random StreamOf(std::uint64_t seed, std::uint64_t stream, std::uint64_t index) {
  Random mixer(seed ^ (stream * 0xD1B54A32D192ED03ULL));
  for (std::uint64_t i = 0; i < 2; ++i) mixer.Next();
  return Random(mixer.Next() ^ (index * 0x9E3779B97F4A7C15ULL + stream));
}

const std::vector<Company>& Companies() {
  static const std::vector<Company> companies = [] {
    std::vector<Company> list;
    Company plain;
    plain.ditta = "01";
    plain.codeWidth[1] = 5;
    list.push_back(plain);

    Company second;
    second.ditta = "02";
    second.existing[0] = ExistingRule::Reuse;
    second.existingText[0] = " riusa ";
    second.existing[1] = ExistingRule::Refuse;
    second.existingText[1] = "RIFIUTA";
    second.refuseCeased[0] = true;
    second.ceasedText[0] = "Rifiuta";
    second.checkVatNumber = true;
    second.checkText = "Si";
    list.push_back(second);

    Company third;
    third.ditta = "03";
    third.existing[0] = ExistingRule::Refuse;
    third.existingText[0] = "Rifiuta";
    third.existing[1] = ExistingRule::Reuse;
    third.existingText[1] = "Riusa";
    third.refuseCeased[0] = true;
    third.ceasedText[0] = "rifiuta";
    third.refuseCeased[1] = true;
    third.ceasedText[1] = "Rifiuta ";
    third.checkText = "No";
    third.codeWidth[1] = 4;
    list.push_back(third);

    Company fourth;
    fourth.ditta = "04";
    fourth.refuseCeased[0] = fourth.refuseCeased[1] = true;
    fourth.ceasedText[0] = fourth.ceasedText[1] = "Rifiuta";
    fourth.checkVatNumber = true;
    fourth.checkText = " si";
    list.push_back(fourth);

    Company embedded;
    embedded.ditta = "05";
    embedded.embedded = true;
    list.push_back(embedded);

    Company embeddedWithSettings = second;
    embeddedWithSettings.ditta = "06";
    embeddedWithSettings.embedded = true;
    list.push_back(embeddedWithSettings);
    return list;
  }();
  return companies;
}

namespace {

// The eleventh digit of an Italian VAT number: digits in odd places as they are, in even places
// doubled (less 9 above 9); the check digit makes the sum a multiple of 10.
char CheckDigit(const std::string& tenDigits) {
  int sum = 0;
  for (std::size_t i = 0; i < 10; ++i) {
    int digit = tenDigits[i] - '0';
    if (i % 2 == 1) {
      digit *= 2;
      if (digit > 9) digit -= 9;
    }
    sum += digit;
  }
  return static_cast<char>('0' + (10 - sum % 10) % 10);
}

PoolNumber Number(const std::string& tenDigits, bool valid, bool ceased, bool seeded) {
  PoolNumber number;
  const char check = CheckDigit(tenDigits);
  number.digits = tenDigits + (valid ? check : static_cast<char>('0' + (check - '0' + 1) % 10));
  number.valid = valid;
  number.ceased = ceased;
  number.seeded = seeded;
  if (seeded) {
    // As the management program's users type it: "IT 02114.370-015".
    const std::string& d = number.digits;
    number.seededAs = "IT " + d.substr(0, 5) + "." + d.substr(5, 3) + "-" + d.substr(8);
  }
  return number;
}

}  // namespace

const std::vector<PoolNumber>& VatPool() {
  static const std::vector<PoolNumber> pool = {
      Number("0211437001", true, false, false), Number("0738962015", true, false, false),
      Number("0456123039", true, true, false),  Number("0987654100", false, false, false),
      Number("0345678120", true, false, true),
  };
  return pool;
}

std::string NormalizeVat(const std::string& text) {
  std::string compact;
  for (const char ch : text) {
    if (ch != ' ' && ch != '\t' && ch != '.' && ch != '-') compact += ch;
  }
  if (compact.size() >= 2 && (compact[0] == 'I' || compact[0] == 'i') && (compact[1] == 'T' || compact[1] == 't')) {
    compact.erase(0, 2);
  }
  return compact;
}

std::string FaultKindName(FaultKind kind) {
  switch (kind) {
    case FaultKind::None: return "none";
    case FaultKind::StopSignal: return "stop signal";
    case FaultKind::Kill: return "SIGKILL";
    case FaultKind::DatabaseCut: return "database cut";
    case FaultKind::DatabaseSilent: return "database goes silent";
    case FaultKind::RegistryRefuse: return "registry refuses";
    case FaultKind::RegistryHandshake: return "registry handshake fails";
    case FaultKind::RegistryDropIdle: return "registry drops the idle channel";
    case FaultKind::RegistryNoAnswer: return "registry closes without answer";
    case FaultKind::RegistryStall: return "registry stalls";
    case FaultKind::RegistryHang: return "registry never answers";
    case FaultKind::RegistryDrip: return "registry drips";
    case FaultKind::RegistryGarbage: return "registry garbage";
    case FaultKind::RegistryHttpError: return "registry error status";
    case FaultKind::StdoutClosed: return "stdout closed";
    case FaultKind::StdoutFull: return "stdout /dev/full";
    case FaultKind::StdoutBlocked: return "stdout full pipe";
    case FaultKind::StdoutGone: return "stdout reader gone";
    case FaultKind::StdoutAbandoned: return "stdout abandoned";
  }
  return "?";
}

bool IsRegistryFault(FaultKind kind) {
  return kind >= FaultKind::RegistryRefuse && kind <= FaultKind::RegistryHttpError;
}

bool IsStdoutFault(FaultKind kind) { return kind >= FaultKind::StdoutClosed; }

bool IsDatabaseFault(FaultKind kind) { return kind == FaultKind::DatabaseCut || kind == FaultKind::DatabaseSilent; }

namespace {

const char* const kHandshakeVariantNames[kHandshakeVariants] = {
    "garbage instead of the server's hello", "closed after the client's hello",
    "a certificate from an unknown authority", "a certificate for another name"};

const char* const kGarbageVariantNames[kGarbageVariants] = {"random bytes",
                                                            "an HTML page with status 200",
                                                            "a JSON body cut short of its Content-Length",
                                                            "\"success\": false",
                                                            "a status line that is not one",
                                                            "headers cut short",
                                                            "a chunk size that is not a number",
                                                            "\"success\": \"yes\""};

}  // namespace

std::string Describe(const Fault& fault) {
  const std::string closing = fault.reset ? " (reset)" : "";
  switch (fault.kind) {
    case FaultKind::None: return "no fault";
    case FaultKind::StopSignal:
      return std::string(fault.signal == SIGINT ? "SIGINT" : "SIGTERM") + " after " + std::to_string(fault.delayMs) +
             " ms";
    case FaultKind::Kill: return "SIGKILL after " + std::to_string(fault.delayMs) + " ms";
    case FaultKind::DatabaseCut:
      return "database connection " + std::to_string(fault.connection) + " of the run cut after " +
             std::to_string(fault.bytes) + " bytes" + (fault.reset ? " by a reset" : " by an orderly close") +
             (fault.refuseLater ? ", later connections refused" : "");
    case FaultKind::DatabaseSilent: {
      const std::string where = "database connection " + std::to_string(fault.connection) + " of the run goes silent ";
      const std::string request = std::to_string(fault.request);
      switch (fault.variant) {
        case kSilentAtByte: return where + "after " + std::to_string(fault.bytes) + " bytes";
        case kSilentRequestLost: return where + "at its request " + request + ", never passed on";
        default: return where + "after its request " + request + ", whose answer never comes back";
      }
    }
    case FaultKind::RegistryRefuse: return "registry closes every connection as it is accepted" + closing;
    case FaultKind::RegistryHandshake:
      return std::string("registry handshake fails: ") + kHandshakeVariantNames[fault.variant];
    case FaultKind::RegistryDropIdle:
      return "registry closes the first connection after the handshake, before any request";
    case FaultKind::RegistryNoAnswer: return "registry reads the request and closes without an answer" + closing;
    case FaultKind::RegistryStall: return "registry answers after " + std::to_string(fault.delayMs) + " ms";
    case FaultKind::RegistryHang: return "registry reads the request and never answers";
    case FaultKind::RegistryDrip:
      return "registry answers " + std::to_string(fault.chunk) + " bytes at a time, " + std::to_string(fault.delayMs) +
             " ms apart";
    case FaultKind::RegistryGarbage: return std::string("registry answers ") + kGarbageVariantNames[fault.variant];
    case FaultKind::RegistryHttpError:
      return "registry answers status " + std::to_string(fault.status) +
             (fault.variant == 0 ? " (JSON body)" : " (HTML body)");
    case FaultKind::StdoutClosed: return "standard output closed at start";
    case FaultKind::StdoutFull: return "standard output is /dev/full";
    case FaultKind::StdoutBlocked: return "standard output is a full pipe that nobody reads";
    case FaultKind::StdoutGone: return "standard output is a pipe whose reader has gone";
    case FaultKind::StdoutAbandoned:
      return "standard output's reader goes away after " + std::to_string(fault.delayMs) + " ms";
  }
  return "?";
}

namespace {

// Per mille of runs.
struct Weight {
  FaultKind kind;
  int perMille;
};

constexpr Weight kFaultWeights[] = {
    {FaultKind::None, 300},
    {FaultKind::StopSignal, 70},
    {FaultKind::Kill, 60},
    {FaultKind::DatabaseCut, 150},
    {FaultKind::DatabaseSilent, 60},
    {FaultKind::RegistryRefuse, 20},
    {FaultKind::RegistryHandshake, 40},
    {FaultKind::RegistryDropIdle, 30},
    {FaultKind::RegistryNoAnswer, 30},
    {FaultKind::RegistryStall, 30},
    {FaultKind::RegistryHang, 4},
    {FaultKind::RegistryDrip, 30},
    {FaultKind::RegistryGarbage, 40},
    {FaultKind::RegistryHttpError, 40},
    {FaultKind::StdoutClosed, 20},
    {FaultKind::StdoutFull, 20},
    {FaultKind::StdoutBlocked, 16},
    {FaultKind::StdoutGone, 20},
    {FaultKind::StdoutAbandoned, 20},
};

constexpr int kHttpErrorStatuses[] = {400, 401, 402, 403, 404, 406, 429, 500, 502, 503};

// The bytes a run's database connections carry, roughly: a cut is drawn over a little more than
// the whole connection, so that some cuts come after its end and do nothing.
constexpr int kUsersConnectionBytes = 3600;
constexpr int kArchiveConnectionBytes = 11000;
// The requests a run's client makes on each, roughly, drawn over in the same way.
constexpr int kUsersConnectionRequests = 18;
constexpr int kArchiveConnectionRequests = 60;

// A moment in a run: one in six in its first milliseconds, where start-up races live.
int Moment(Random& random) { return random.Percent(16) ? random.Between(0, 5) : random.Between(5, 900); }

Fault DrawFault(Random& random) {
  Fault fault;
  int pick = random.Below(1000);
  for (const Weight& weight : kFaultWeights) {
    if (pick < weight.perMille) {
      fault.kind = weight.kind;
      break;
    }
    pick -= weight.perMille;
  }
  switch (fault.kind) {
    case FaultKind::StopSignal:
      fault.signal = random.Below(3) == 0 ? SIGINT : SIGTERM;
      fault.delayMs = Moment(random);
      break;
    case FaultKind::Kill:
      fault.signal = SIGKILL;
      fault.delayMs = Moment(random);
      break;
    case FaultKind::DatabaseCut: {
      // The users database's connection, or the archive's (an embedded archive has none).
      fault.connection = random.Percent(35) ? 1 : 2;
      fault.bytes = random.Between(0, fault.connection == 1 ? kUsersConnectionBytes : kArchiveConnectionBytes);
      fault.reset = random.Percent(50);
      fault.refuseLater = random.Percent(25);
      break;
    }
    case FaultKind::DatabaseSilent: {
      const bool users = random.Percent(35);
      fault.connection = users ? 1 : 2;
      fault.variant = random.Below(kSilenceVariants);
      fault.bytes = random.Between(0, users ? kUsersConnectionBytes : kArchiveConnectionBytes);
      fault.request = random.Between(1, users ? kUsersConnectionRequests : kArchiveConnectionRequests);
      break;
    }
    case FaultKind::RegistryRefuse:
    case FaultKind::RegistryNoAnswer: fault.reset = random.Percent(50); break;
    case FaultKind::RegistryHandshake: fault.variant = random.Below(kHandshakeVariants); break;
    case FaultKind::RegistryStall: fault.delayMs = random.Between(200, 4000); break;
    case FaultKind::RegistryDrip:
      fault.chunk = random.Between(1, 16);
      fault.delayMs = random.Between(1, 12);
      break;
    case FaultKind::RegistryGarbage: fault.variant = random.Below(kGarbageVariants); break;
    case FaultKind::RegistryHttpError:
      fault.status = kHttpErrorStatuses[random.Below(static_cast<int>(std::size(kHttpErrorStatuses)))];
      fault.variant = random.Below(2);
      break;
    case FaultKind::StdoutAbandoned: fault.delayMs = Moment(random); break;
    default: break;
  }
  return fault;
}

struct Focus {
  int company = 0;
  int table = 0;
  int vat = 0;
  int size = 1;
};

std::vector<int> CompaniesWhere(bool embedded) {
  std::vector<int> found;
  for (std::size_t i = 0; i < Companies().size(); ++i) {
    if (Companies()[i].embedded == embedded) found.push_back(static_cast<int>(i));
  }
  return found;
}

// An embedded archive opens in one process at a time: its groups have one run.
Focus FocusOf(std::uint64_t seed, int group, int maxGroupSize) {
  Random random = StreamOf(seed, 2, static_cast<std::uint64_t>(group));
  Focus focus;
  const bool embedded = random.Percent(15);
  const std::vector<int> candidates = CompaniesWhere(embedded);
  focus.company = candidates[static_cast<std::size_t>(random.Below(static_cast<int>(candidates.size())))];
  focus.table = random.Below(kTables);
  focus.vat = random.Below(static_cast<int>(VatPool().size()));
  focus.size = embedded ? 1 : std::min(random.Between(1, 8), maxGroupSize);
  return focus;
}

}  // namespace

RunPlan Planner::Run(int index, int group) const {
  const Focus focus = FocusOf(seed_, group, maxGroupSize_);
  Random random = StreamOf(seed_, 1, static_cast<std::uint64_t>(index));
  RunPlan run;
  run.index = index;
  run.group = group;
  const std::vector<int> served = CompaniesWhere(false);
  const bool ownCompany = !Companies()[static_cast<std::size_t>(focus.company)].embedded && !random.Percent(75);
  run.company =
      ownCompany ? served[static_cast<std::size_t>(random.Below(static_cast<int>(served.size())))] : focus.company;
  run.table = random.Percent(75) ? focus.table : random.Below(kTables);
  run.vat = random.Percent(75) ? focus.vat : random.Below(static_cast<int>(VatPool().size()));
  const std::string& digits = VatPool()[static_cast<std::size_t>(run.vat)].digits;
  // Where the check digits are checked the number comes plain; elsewhere also with "IT" before
  // it, which the comparison with stored numbers leaves out.
  const int writing = random.Below(100);
  if (Companies()[static_cast<std::size_t>(run.company)].checkVatNumber || writing < 60) {
    run.piva = digits;
  } else {
    run.piva = (writing < 85 ? "IT" : "it") + digits;
  }
  run.successorFormat = random.Percent(50);
  run.tokenInEnvironment = random.Percent(50);
  run.chunkedAnswer = random.Percent(25);
  run.fault = DrawFault(random);
  if (run.fault.kind == FaultKind::DatabaseSilent && !silence_) run.fault = Fault{};
  return run;
}

int Planner::GroupOf(int index) const {
  int group = 0;
  for (int first = 0;; ++group) {
    first += FocusOf(seed_, group, maxGroupSize_).size;
    if (index < first) return group;
  }
}

std::vector<int> Planner::RunsOf(int group) const {
  int first = 0;
  for (int earlier = 0; earlier < group; ++earlier) first += FocusOf(seed_, earlier, maxGroupSize_).size;
  std::vector<int> runs;
  for (int i = 0; i < FocusOf(seed_, group, maxGroupSize_).size; ++i) runs.push_back(first + i);
  return runs;
}

GroupPlan Planner::NextGroup() {
  GroupPlan group;
  group.index = nextGroup_++;
  const Focus focus = FocusOf(seed_, group.index, maxGroupSize_);
  for (int i = 0; i < focus.size; ++i) group.runs.push_back(Run(nextRun_++, group.index));
  return group;
}

}  // namespace korvane::soak
