#include "Checks.h"

#include <algorithm>
#include <csignal>
#include <cstdio>
#include <cstring>
#include <map>
#include <set>

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

namespace {

std::string Upper(std::string text) {
  for (char& ch : text) {
    if (ch >= 'a' && ch <= 'z') ch = static_cast<char>(ch - 'a' + 'A');
  }
  return text;
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

// What is wrong with a row that a run wrote from the registry's answer, or nothing.
std::string RowFault(const StoredRow& row, const RunPlan& plan) {
  const PoolNumber& number = VatPool()[static_cast<std::size_t>(plan.vat)];
  std::string wrong;
  auto expect = [&](const char* column, const std::string& got, const std::string& want) {
    if (got != want)
      wrong += std::string(wrong.empty() ? "" : ", ") + column + " " + Quote(got) + " (expected " + Quote(want) + ")";
  };
  expect("PI", row.pi, plan.piva);
  expect("CF", row.cf, number.digits);
  expect("INDIRIZZO", Upper(row.indirizzo), "VIA ROMA");
  expect("NUMEROCIVICO", row.numeroCivico, "12");
  expect("CITTA", Upper(row.citta), "MILANO");
  expect("PROVINCIA", row.provincia, "MI");
  expect("CAP", row.cap, "20121");
  expect("CODICEPAESE", row.codicePaese, "IT");
  if (!row.dated) wrong += std::string(wrong.empty() ? "" : ", ") + "a date missing";
  return wrong;
}

const StoredRow* FindRow(const std::vector<StoredRow>& rows, int company, int table, const std::string& codice) {
  for (const StoredRow& row : rows) {
    if (row.company == company && row.table == table && row.codice == codice) return &row;
  }
  return nullptr;
}

// Whether the bytes are UTF-8 (no overlong forms, no surrogates, nothing above U+10FFFF).
bool IsUtf8(const std::string& bytes) {
  for (std::size_t i = 0; i < bytes.size();) {
    const auto lead = static_cast<unsigned char>(bytes[i]);
    int length = 0;
    char32_t c = 0;
    if (lead < 0x80) {
      ++i;
      continue;
    }
    if (lead >= 0xC2 && lead <= 0xDF) {
      length = 2;
      c = lead & 0x1F;
    } else if (lead >= 0xE0 && lead <= 0xEF) {
      length = 3;
      c = lead & 0x0F;
    } else if (lead >= 0xF0 && lead <= 0xF4) {
      length = 4;
      c = lead & 0x07;
    } else {
      return false;
    }
    if (i + static_cast<std::size_t>(length) > bytes.size()) return false;
    for (int k = 1; k < length; ++k) {
      const auto next = static_cast<unsigned char>(bytes[i + static_cast<std::size_t>(k)]);
      if ((next & 0xC0) != 0x80) return false;
      c = (c << 6) | (next & 0x3F);
    }
    if ((length == 3 && (c < 0x800 || (c >= 0xD800 && c <= 0xDFFF))) ||
        (length == 4 && (c < 0x10000 || c > 0x10FFFF))) {
      return false;
    }
    i += static_cast<std::size_t>(length);
  }
  return true;
}

// A control character other than the CR and LF that end lines (the program's own messages put a
// lone CR between a prefix and the engine's text).
bool HasStrayControl(const std::string& bytes) {
  return std::any_of(bytes.begin(), bytes.end(), [](char ch) {
    const auto byte = static_cast<unsigned char>(ch);
    return (byte < 0x20 && ch != '\r' && ch != '\n') || byte == 0x7F;
  });
}

std::string SignalName(int number) {
  const char* name = sigabbrev_np(number);
  return name ? std::string("SIG") + name : "signal " + std::to_string(number);
}

}  // namespace

CheckOutcome CheckSoak(const SoakResult& result) {
  CheckOutcome outcome;
  auto fail = [&](int run, const std::string& what) { outcome.violations.push_back({run, what}); };

  // Each row belongs to the run its company name tags, or to the seed.
  std::map<int, std::vector<const StoredRow*>> byRun;
  for (const StoredRow& row : result.rows) {
    const int tag = TagOf(row.ragsoc);
    if (const RunRecord* writer = tag >= 0 ? result.Find(tag) : nullptr; writer != nullptr && writer->launched) {
      byRun[tag].push_back(&row);
    } else if (row.ragsoc != kSeedTag) {
      fail(-1, "row " + row.codice + " of " + Where(row.company, row.table) +
                   " was written by no run of this soak: RAGSOC " + Quote(row.ragsoc) + ", PI " + Quote(row.pi));
    }
  }

  // Tables whose company refuses or reuses a stored number hold each number once.
  for (std::size_t c = 0; c < Companies().size(); ++c) {
    for (int t = 0; t < kTables; ++t) {
      std::map<std::string, std::vector<std::string>> holders;
      std::map<std::string, int> codes;
      for (const StoredRow& row : result.rows) {
        if (row.company != static_cast<int>(c) || row.table != t) continue;
        holders[NormalizeVat(row.pi)].push_back(row.codice);
        if (++codes[row.codice] == 2) fail(-1, "code " + row.codice + " twice in " + Where(row.company, t));
      }
      if (Companies()[c].existing[t] == ExistingRule::Off) continue;
      for (const auto& [vat, list] : holders) {
        if (vat.empty() || list.size() < 2) continue;
        std::string codesText;
        for (const std::string& code : list) codesText += (codesText.empty() ? "" : ", ") + code;
        fail(-1, "P.IVA " + vat + " is stored " + std::to_string(list.size()) + " times in " +
                     Where(static_cast<int>(c), t) + ", whose PartitaIvaPresente" + kTableWords[t] +
                     " setting allows one: codes " + codesText);
      }
    }
  }

  for (const RunRecord& record : result.runs) {
    if (!record.launched) continue;
    const RunPlan& plan = record.plan;
    const int index = plan.index;
    const Company& company = Companies()[static_cast<std::size_t>(plan.company)];
    const ExistingRule rule = company.existing[plan.table];
    const PoolNumber& number = VatPool()[static_cast<std::size_t>(plan.vat)];
    const FaultKind fault = plan.fault.kind;
    const std::vector<const StoredRow*> noRows;
    const auto found = byRun.find(index);
    const std::vector<const StoredRow*>& own = found == byRun.end() ? noRows : found->second;

    // What the rows say, whatever the run's end.
    if (own.size() > 1) {
      std::string codes;
      for (const StoredRow* row : own)
        codes += (codes.empty() ? "" : ", ") + row->codice + " in " + Where(row->company, row->table);
      fail(index, "one run, " + std::to_string(own.size()) + " rows: " + codes);
    }
    for (const StoredRow* row : own) {
      if (row->company != plan.company || row->table != plan.table) {
        fail(index, "its row " + row->codice + " is in " + Where(row->company, row->table) + ", not in " +
                        Where(plan.company, plan.table));
      }
      const std::string wrong = RowFault(*row, plan);
      if (!wrong.empty()) fail(index, "its row " + row->codice + " is not the answer's whole row: " + wrong);
      if (number.ceased && company.refuseCeased[plan.table]) {
        fail(index, "its row " + row->codice + " holds a company the registry gives as ceased, with ImpresaCessata" +
                        kTableWords[plan.table] + " = Rifiuta");
      }
      if (!number.valid && company.checkVatNumber) {
        fail(index, "its row " + row->codice +
                        " holds a VAT number whose check digit is wrong, with ControlloPartitaIva = Si");
      }
    }
    // A run refused before the registry call never pays for an answer: not a request byte.
    const bool invalidNumber = company.checkVatNumber && !number.valid;
    const bool alreadyStored = rule != ExistingRule::Off && record.storedAtLaunch;
    if ((invalidNumber || alreadyStored) && record.registry.requestBytes > 0) {
      fail(index, "the registry received " + std::to_string(record.registry.requestBytes) +
                      " request bytes, although the run was to end before paying (" +
                      (invalidNumber ? "check digit wrong with ControlloPartitaIva = Si"
                                     : "number stored before the run began, with PartitaIvaPresente" +
                                           std::string(kTableWords[plan.table])) +
                      ")");
    }
    if (!record.registry.strayToken.empty()) {
      fail(index, "its registry channel carried another run's request: " + Quote(record.registry.strayToken));
    }
    if (!record.attachmentLeft.empty()) {
      fail(index, "the server still held its attachment to the " + record.attachmentLeft +
                      " 10 s after it was killed: its locks block the runs after it");
    }

    if (!record.engineLocksLeft.empty()) {
      std::string files;
      for (const std::string& file : record.engineLocksLeft) files += (files.empty() ? "" : ", ") + file;
      if (record.endSignal == SIGKILL && (fault == FaultKind::Kill || record.killedAtBound || record.cutShort)) {
        outcome.locksLeftByKills.push_back("run " + std::to_string(index) + ": " + files);
      } else {
        fail(index, "it ended holding the embedded engine's shared mutex of " + files +
                        ": every later process using the engine with that lock folder waits for it for ever "
                        "(released by the soak)");
      }
    }

    // What the run itself did: not judged for a run the soak killed or cut short.
    if (record.cutShort) continue;
    if (fault == FaultKind::Kill && record.endSignal == SIGKILL && !record.killedAtBound) continue;
    if (record.killedAtBound) {
      fail(index, "still running " + std::to_string(static_cast<int>(record.boundSeconds)) +
                      " s after its start (killed)" +
                      (record.out.empty() ? "" : "; its output so far: " + Quote(record.out)));
      continue;
    }
    if (record.endSignal != 0) {
      if (fault == FaultKind::StopSignal && record.endSignal == plan.fault.signal && !record.stopSignalInMain) {
        ++outcome.earlyStops;
      } else {
        fail(index, "ended by " + SignalName(record.endSignal) + ", without a line or an exit code" +
                        (fault == FaultKind::StopSignal && record.endSignal == plan.fault.signal
                             ? " (the signal came once the program had set up its signals)"
                             : ""));
      }
      continue;
    }
    if (record.exitCode != 0 && record.exitCode != 1) fail(index, "exit code " + std::to_string(record.exitCode));
    if (!record.err.empty()) fail(index, "wrote on standard error: " + Quote(record.err));
    std::string line;
    if (record.outputSeen) {
      const std::string& out = record.out;
      if (out.size() < 3 || out.compare(out.size() - 2, 2, "\r\n") != 0) {
        fail(index, "its output is not one message ended by CR LF: " + Quote(out));
      } else {
        line = out.substr(0, out.size() - 2);
        if (StartsWith(out, "\r\n") || line.find("\r\n\r\n") != std::string::npos ||
            (line.size() >= 2 && line.compare(line.size() - 2, 2, "\r\n") == 0)) {
          fail(index, "its message has an empty line: " + Quote(out));
        }
      }
      if (!IsUtf8(out)) fail(index, "its output is not UTF-8: " + Quote(out));
      if (HasStrayControl(out)) fail(index, "its output holds a control character: " + Quote(out));
      if (line.find("deadlock") != std::string::npos) {
        fail(index, "the engine's lock-conflict text reached the line: " + Quote(out));
      }
    }
    if (fault == FaultKind::StopSignal && record.stopSignalInMain && record.signalSentMs >= 0 &&
        record.durationMs - record.signalSentMs > 5000) {
      fail(index, "ended " + std::to_string(static_cast<int>(record.durationMs - record.signalSentMs)) +
                      " ms after its stop signal (a second is promised)");
    }
    std::vector<const StoredRow*> ownHere;
    for (const StoredRow* row : own) {
      if (row->company == plan.company && row->table == plan.table) ownHere.push_back(row);
    }

    if (record.exitCode == 0) {
      if (record.outputSeen && !line.empty()) {
        const StoredRow* row = FindRow(result.rows, plan.company, plan.table, line);
        if (row == nullptr) {
          fail(index,
               "exit 0 with code " + Quote(line) + ", but " + Where(plan.company, plan.table) + " has no such row");
        } else if (NormalizeVat(row->pi) != number.digits) {
          fail(index, "exit 0 with code " + line + ", whose row holds P.IVA " + Quote(row->pi) + ", not " + plan.piva);
        } else if (rule != ExistingRule::Reuse && TagOf(row->ragsoc) != index) {
          fail(index, "exit 0 with code " + line + ", a row that another run wrote (" + Quote(row->ragsoc) + "); " +
                          (ownHere.empty() ? std::string("this run's own row was never stored")
                                           : "this run's own row is " + ownHere[0]->codice));
        }
      } else if (!record.outputSeen && rule != ExistingRule::Reuse && ownHere.size() != 1) {
        fail(index, "exit 0, but " + Where(plan.company, plan.table) + " has no row of its own");
      }
    } else if (record.exitCode == 1) {
      if (StartsWith(line, "Esito della scrittura non verificabile")) {
        if (ownHere.size() == 1 && NamedCode(line) != ownHere[0]->codice) {
          fail(index, Quote(line) + ", but its row is stored with code " + ownHere[0]->codice);
        }
      } else if (!ownHere.empty()) {
        fail(index, "exit 1 (" + (record.outputSeen ? Quote(line) : std::string("output not seen")) +
                        "), but its row " + ownHere[0]->codice + " is stored");
      }
      const std::string present = "P.IVA " + plan.piva + " presente in archivio (codice ";
      if (StartsWith(line, present)) {
        const StoredRow* named = FindRow(result.rows, plan.company, plan.table, NamedCode(line));
        if (named == nullptr || NormalizeVat(named->pi) != number.digits) {
          fail(index, Quote(line) + ", but that code does not hold the number in " + Where(plan.company, plan.table));
        }
      }
    }

    if (!record.outputSeen) continue;
    // What the company's settings decide before the registry is asked, the registry's faults
    // cannot change.
    if (fault == FaultKind::None || IsRegistryFault(fault)) {
      std::string expected;
      bool matches = true;
      if (invalidNumber) {
        expected = "P.IVA " + plan.piva + " non valida";
        matches = record.exitCode == 1 && line == expected;
      } else if (alreadyStored && rule == ExistingRule::Reuse) {
        expected = "the code of the stored subject";
        matches = record.exitCode == 0;
      } else if (alreadyStored) {
        expected = "P.IVA " + plan.piva + " presente in archivio (codice ...)";
        matches = record.exitCode == 1 && StartsWith(line, "P.IVA " + plan.piva + " presente in archivio (codice ");
      }
      if (!matches) {
        fail(index, "expected " + Quote(expected) + ", got exit " + std::to_string(record.exitCode) + " with " +
                        Quote(record.out));
      }
    }
    // Without a fault, a run fails only for a reason of its company's settings.
    if (fault == FaultKind::None && record.exitCode == 1) {
      const bool allowed =
          (invalidNumber && line == "P.IVA " + plan.piva + " non valida") ||
          (rule == ExistingRule::Refuse && StartsWith(line, "P.IVA " + plan.piva + " presente in archivio (codice ")) ||
          (number.ceased && company.refuseCeased[plan.table] && line == "Impresa cessata (P.IVA " + plan.piva + ")") ||
          (rule != ExistingRule::Off && StartsWith(line, "Archivio occupato"));
      if (!allowed) fail(index, "failed without a fault: " + Quote(record.out));
    }
  }
  std::stable_sort(outcome.violations.begin(), outcome.violations.end(),
                   [](const Violation& a, const Violation& b) { return a.run < b.run; });
  return outcome;
}

}  // namespace korvane::soak
