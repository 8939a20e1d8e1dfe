#include "Checks.h"

#include <algorithm>
#include <chrono>
#include <csignal>
#include <cstdio>
#include <map>

#include "Invariants.h"
#include "RegistryServer.h"

namespace korvane::soak {

int TagOf(const std::string& ragsoc) {
  const std::string prefix = RunTag(0).substr(0, RunTag(0).size() - 1);
  if (ragsoc.rfind(prefix, 0) != 0 || ragsoc.size() == prefix.size()) return -1;
  const std::string digits = ragsoc.substr(prefix.size());
  if (digits.find_first_not_of("0123456789") != std::string::npos || digits.size() > 9) return -1;
  return std::stoi(digits);
}

std::string Quote(const std::string& bytes) {
  std::string quoted = "\"";
  for (const char ch : bytes) {
    const auto byte = static_cast<unsigned char>(ch);
    if (ch == '\r') {
      quoted += "\\r";
    } else if (ch == '\n') {
      quoted += "\\n";
    } else if (ch == '"' || ch == '\\') {
      quoted += '\\';
      quoted += ch;
    } else if (byte < 0x20 || byte == 0x7F) {
      char escaped[8];
      std::snprintf(escaped, sizeof escaped, "\\x%02X", byte);
      quoted += escaped;
    } else {
      quoted += ch;
    }
  }
  return quoted + "\"";
}

bool StartsWith(const std::string& text, const std::string& prefix) { return text.rfind(prefix, 0) == 0; }

std::string Where(int company, int table) {
  return std::string(kTableNames[table]) + " of company " + Companies()[static_cast<std::size_t>(company)].ditta;
}

// The code named by "... (codice <code>)" at the end of a message.
std::string NamedCode(const std::string& line) {
  const std::string marker = "(codice ";
  const std::size_t at = line.rfind(marker);
  if (at == std::string::npos || line.empty() || line.back() != ')') return {};
  return line.substr(at + marker.size(), line.size() - at - marker.size() - 1);
}

const StoredRow* FindRow(const std::vector<StoredRow>& rows, int company, int table, const std::string& codice) {
  for (const StoredRow& row : rows) {
    if (row.company == company && row.table == table && row.codice == codice) return &row;
  }
  return nullptr;
}

Clock::time_point EndOf(const RunRecord& record) {
  return record.start +
         std::chrono::duration_cast<Clock::duration>(std::chrono::duration<double, std::milli>(record.durationMs));
}

bool SilentNeighbour(const RunFacts& run) {
  for (const RunRecord& other : run.result.runs) {
    if (&other == &run.record || other.plan.company != run.plan.company || !other.relay.silent) continue;
    if (*other.relay.firedAt <= EndOf(run.record) && EndOf(other) >= run.record.start) return true;
  }
  return false;
}

namespace {

// The rows with each launched run's tag; a row with another tag is no run's.
std::map<int, std::vector<const StoredRow*>> RowsByRun(const SoakResult& result) {
  std::map<int, std::vector<const StoredRow*>> byRun;
  for (const StoredRow& row : result.rows) {
    const int tag = TagOf(row.ragsoc);
    const RunRecord* writer = tag >= 0 ? result.Find(tag) : nullptr;
    if (writer != nullptr && writer->launched) byRun[tag].push_back(&row);
  }
  return byRun;
}

bool Judged(const RunRecord& record, FaultKind fault, Judges judges) {
  if (judges == Judges::EveryRun) return true;
  // Not judged for what it did: a run the soak cut short, or one its own SIGKILL fault ended.
  if (record.cutShort || (fault == FaultKind::Kill && record.endSignal == SIGKILL && !record.killedAtBound)) {
    return false;
  }
  if (judges == Judges::OwnEnd) return true;
  if (record.killedAtBound || record.endSignal != 0) return false;
  return judges == Judges::Exited || record.outputSeen;
}

RunFacts FactsOf(const SoakResult& result, const RunRecord& record, const std::vector<const StoredRow*>& own) {
  const RunPlan& plan = record.plan;
  const Company& company = Companies()[static_cast<std::size_t>(plan.company)];
  const ExistingRule rule = company.existing[plan.table];
  const PoolNumber& number = VatPool()[static_cast<std::size_t>(plan.vat)];
  RunFacts facts{result, record, plan, company, rule, number, plan.fault.kind, own, {}, false, false, {}};
  for (const StoredRow* row : own) {
    if (row->company == plan.company && row->table == plan.table) facts.ownHere.push_back(row);
  }
  facts.invalidNumber = company.checkVatNumber && !number.valid;
  facts.alreadyStored = rule != ExistingRule::Off && record.storedAtLaunch;
  const std::string& out = record.out;
  if (record.outputSeen && out.size() >= 3 && out.compare(out.size() - 2, 2, "\r\n") == 0) {
    facts.line = out.substr(0, out.size() - 2);
  }
  return facts;
}

}  // namespace

CheckOutcome CheckSoak(const SoakResult& result) {
  CheckOutcome outcome;
  for (const ArchiveInvariant& invariant : ArchiveInvariants()) invariant.check(result, {outcome, invariant.name, -1});
  const std::map<int, std::vector<const StoredRow*>> byRun = RowsByRun(result);
  for (const RunRecord& record : result.runs) {
    if (!record.launched) continue;
    const auto found = byRun.find(record.plan.index);
    const RunFacts facts =
        FactsOf(result, record, found == byRun.end() ? std::vector<const StoredRow*>{} : found->second);
    for (const auto table : {RowInvariants(), EndInvariants()}) {
      for (const RunInvariant& invariant : table) {
        if (Judged(record, facts.fault, invariant.judges))
          invariant.check(facts, {outcome, invariant.name, record.plan.index});
      }
    }
  }
  std::stable_sort(outcome.violations.begin(), outcome.violations.end(),
                   [](const Violation& a, const Violation& b) { return a.run < b.run; });
  return outcome;
}

}  // namespace korvane::soak
