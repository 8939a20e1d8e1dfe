#include <csignal>
#include <map>
#include <string>
#include <vector>

#include "Invariants.h"

namespace korvane::soak {

namespace {

std::string Upper(std::string text) {
  for (char& ch : text) {
    if (ch >= 'a' && ch <= 'z') ch = static_cast<char>(ch - 'a' + 'A');
  }
  return text;
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

// --- The archives as a whole.

void EveryRowHasAWriter(const SoakResult& result, const Finding& finding) {
  for (const StoredRow& row : result.rows) {
    const int tag = TagOf(row.ragsoc);
    const RunRecord* writer = tag >= 0 ? result.Find(tag) : nullptr;
    if ((writer == nullptr || !writer->launched) && row.ragsoc != kSeedTag) {
      finding.Fail("row " + row.codice + " of " + Where(row.company, row.table) +
                   " was written by no run of this soak: RAGSOC " + Quote(row.ragsoc) + ", PI " + Quote(row.pi));
    }
  }
}

// The rows of one company's table.
template <typename Visit>
void ForEachTable(const SoakResult& result, Visit visit) {
  for (std::size_t c = 0; c < Companies().size(); ++c) {
    for (int t = 0; t < kTables; ++t) {
      std::vector<const StoredRow*> rows;
      for (const StoredRow& row : result.rows) {
        if (row.company == static_cast<int>(c) && row.table == t) rows.push_back(&row);
      }
      visit(static_cast<int>(c), t, rows);
    }
  }
}

void CodesAreUnique(const SoakResult& result, const Finding& finding) {
  ForEachTable(result, [&](int company, int table, const std::vector<const StoredRow*>& rows) {
    std::map<std::string, int> codes;
    for (const StoredRow* row : rows) {
      if (++codes[row->codice] == 2) finding.Fail("code " + row->codice + " twice in " + Where(company, table));
    }
  });
}

// Tables whose company refuses or reuses a stored number hold each number once.
void OneRowPerNumber(const SoakResult& result, const Finding& finding) {
  ForEachTable(result, [&](int company, int table, const std::vector<const StoredRow*>& rows) {
    if (Companies()[static_cast<std::size_t>(company)].existing[table] == ExistingRule::Off) return;
    std::map<std::string, std::vector<std::string>> holders;
    for (const StoredRow* row : rows) holders[NormalizeVat(row->pi)].push_back(row->codice);
    for (const auto& [vat, list] : holders) {
      if (vat.empty() || list.size() < 2) continue;
      std::string codesText;
      for (const std::string& code : list) codesText += (codesText.empty() ? "" : ", ") + code;
      finding.Fail("P.IVA " + vat + " is stored " + std::to_string(list.size()) + " times in " + Where(company, table) +
                   ", whose PartitaIvaPresente" + kTableWords[table] + " setting allows one: codes " + codesText);
    }
  });
}

constexpr ArchiveInvariant kArchive[] = {
    {"every row is a run's", EveryRowHasAWriter},
    {"codes unique", CodesAreUnique},
    {"one row per number where the setting is on", OneRowPerNumber},
};

// --- Each run, whatever its end.

void AtMostOneRow(const RunFacts& run, const Finding& finding) {
  if (run.own.size() < 2) return;
  std::string codes;
  for (const StoredRow* row : run.own)
    codes += (codes.empty() ? "" : ", ") + row->codice + " in " + Where(row->company, row->table);
  finding.Fail("one run, " + std::to_string(run.own.size()) + " rows: " + codes);
}

void RowInItsTable(const RunFacts& run, const Finding& finding) {
  for (const StoredRow* row : run.own) {
    if (row->company != run.plan.company || row->table != run.plan.table) {
      finding.Fail("its row " + row->codice + " is in " + Where(row->company, row->table) + ", not in " +
                   Where(run.plan.company, run.plan.table));
    }
  }
}

void RowIsTheAnswer(const RunFacts& run, const Finding& finding) {
  for (const StoredRow* row : run.own) {
    const std::string wrong = RowFault(*row, run.plan);
    if (!wrong.empty()) finding.Fail("its row " + row->codice + " is not the answer's whole row: " + wrong);
  }
}

void RefusedNeverStored(const RunFacts& run, const Finding& finding) {
  for (const StoredRow* row : run.own) {
    if (run.number.ceased && run.company.refuseCeased[run.plan.table]) {
      finding.Fail("its row " + row->codice + " holds a company the registry gives as ceased, with ImpresaCessata" +
                   kTableWords[run.plan.table] + " = Rifiuta");
    }
    if (!run.number.valid && run.company.checkVatNumber) {
      finding.Fail("its row " + row->codice +
                   " holds a VAT number whose check digit is wrong, with ControlloPartitaIva = Si");
    }
  }
}

// A run refused before the registry call never pays for an answer: not a request byte.
void NothingPaidBeforeARefusal(const RunFacts& run, const Finding& finding) {
  if (!(run.invalidNumber || run.alreadyStored) || run.record.registry.requestBytes == 0) return;
  finding.Fail("the registry received " + std::to_string(run.record.registry.requestBytes) +
               " request bytes, although the run was to end before paying (" +
               (run.invalidNumber ? "check digit wrong with ControlloPartitaIva = Si"
                                  : "number stored before the run began, with PartitaIvaPresente" +
                                        std::string(kTableWords[run.plan.table])) +
               ")");
}

void OwnRegistryChannel(const RunFacts& run, const Finding& finding) {
  if (!run.record.registry.strayToken.empty()) {
    finding.Fail("its registry channel carried another run's request: " + Quote(run.record.registry.strayToken));
  }
}

void AttachmentsGoWithTheRun(const RunFacts& run, const Finding& finding) {
  if (!run.record.attachmentLeft.empty()) {
    finding.Fail("the server still held its attachment to the " + run.record.attachmentLeft + " 10 s after it " +
                 (run.fault == FaultKind::Kill ? "was killed" : "ended") + ": its locks block the runs after it");
  }
}

// A SIGKILL can leave the engine's mutexes held (they are not robust): noted, not a violation.
void NoEngineMutexLeft(const RunFacts& run, const Finding& finding) {
  const RunRecord& record = run.record;
  if (record.engineLocksLeft.empty()) return;
  std::string files;
  for (const std::string& file : record.engineLocksLeft) files += (files.empty() ? "" : ", ") + file;
  if (record.endSignal == SIGKILL && (run.fault == FaultKind::Kill || record.killedAtBound || record.cutShort)) {
    finding.outcome.locksLeftByKills.push_back("run " + std::to_string(run.plan.index) + ": " + files);
  } else {
    finding.Fail("it ended holding the embedded engine's shared mutex of " + files +
                 ": every later process using the engine with that lock folder waits for it for ever "
                 "(released by the soak)");
  }
}

constexpr RunInvariant kRows[] = {
    {"at most one row per run", Judges::EveryRun, AtMostOneRow},
    {"its row in its own table", Judges::EveryRun, RowInItsTable},
    {"its row is the answer's", Judges::EveryRun, RowIsTheAnswer},
    {"a refused subject is never stored", Judges::EveryRun, RefusedNeverStored},
    {"nothing paid before a refusal", Judges::EveryRun, NothingPaidBeforeARefusal},
    {"its own registry channel", Judges::EveryRun, OwnRegistryChannel},
    {"a killed or silent run's attachments go", Judges::EveryRun, AttachmentsGoWithTheRun},
    {"no engine mutex left held", Judges::EveryRun, NoEngineMutexLeft},
};

}  // namespace

std::span<const ArchiveInvariant> ArchiveInvariants() { return kArchive; }
std::span<const RunInvariant> RowInvariants() { return kRows; }

}  // namespace korvane::soak
