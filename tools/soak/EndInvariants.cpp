#include <algorithm>
#include <chrono>
#include <cstring>
#include <string>

#include "Invariants.h"

namespace korvane::soak {

namespace {

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

// --- Each run that ended by itself.

void EndsByItselfWithinItsBound(const RunFacts& run, const Finding& finding) {
  const RunRecord& record = run.record;
  if (record.killedAtBound) {
    std::string silence;
    if (record.relay.silent && record.relay.firedAt) {
      silence = "; its database connection went silent " +
                std::to_string(static_cast<long>(
                    std::chrono::duration<double, std::milli>(*record.relay.firedAt - record.start).count())) +
                " ms after its start";
    }
    finding.Fail("still running " + std::to_string(static_cast<int>(record.boundSeconds)) +
                 " s after its start (killed)" + silence +
                 (record.out.empty() ? "" : "; its output so far: " + Quote(record.out)));
  } else if (record.endSignal != 0) {
    const bool stopSignal = run.fault == FaultKind::StopSignal && record.endSignal == run.plan.fault.signal;
    if (stopSignal && !record.stopSignalInMain) {
      ++finding.outcome.earlyStops;
    } else {
      finding.Fail("ended by " + SignalName(record.endSignal) + ", without a line or an exit code" +
                   (stopSignal ? " (the signal came once the program had set up its signals)" : ""));
    }
  }
}

// --- Each run that ended with an exit code.

void ExitZeroOrOneAndNoStderr(const RunFacts& run, const Finding& finding) {
  if (run.record.exitCode != 0 && run.record.exitCode != 1) {
    finding.Fail("exit code " + std::to_string(run.record.exitCode));
  }
  if (!run.record.err.empty()) finding.Fail("wrote on standard error: " + Quote(run.record.err));
}

void EndsSoonAfterAStopSignal(const RunFacts& run, const Finding& finding) {
  const RunRecord& record = run.record;
  if (run.fault == FaultKind::StopSignal && record.stopSignalInMain && record.signalSentMs >= 0 &&
      record.durationMs - record.signalSentMs > 5000) {
    finding.Fail("ended " + std::to_string(static_cast<int>(record.durationMs - record.signalSentMs)) +
                 " ms after its stop signal (a second is promised)");
  }
}

void ExitZeroOnlyWithItsRow(const RunFacts& run, const Finding& finding) {
  const RunRecord& record = run.record;
  const RunPlan& plan = run.plan;
  if (record.exitCode != 0) return;
  if (record.outputSeen && !run.line.empty()) {
    const std::string& line = run.line;
    const StoredRow* row = FindRow(run.result.rows, plan.company, plan.table, line);
    if (row == nullptr) {
      finding.Fail("exit 0 with code " + Quote(line) + ", but " + Where(plan.company, plan.table) + " has no such row");
    } else if (NormalizeVat(row->pi) != run.number.digits) {
      finding.Fail("exit 0 with code " + line + ", whose row holds P.IVA " + Quote(row->pi) + ", not " + plan.piva);
    } else if (run.rule != ExistingRule::Reuse && TagOf(row->ragsoc) != plan.index) {
      finding.Fail("exit 0 with code " + line + ", a row that another run wrote (" + Quote(row->ragsoc) + "); " +
                   (run.ownHere.empty() ? std::string("this run's own row was never stored")
                                        : "this run's own row is " + run.ownHere[0]->codice));
    }
  } else if (!record.outputSeen && run.rule != ExistingRule::Reuse && run.ownHere.size() != 1) {
    finding.Fail("exit 0, but " + Where(plan.company, plan.table) + " has no row of its own");
  }
}

void ExitOneWritesNothing(const RunFacts& run, const Finding& finding) {
  if (run.record.exitCode != 1) return;
  if (StartsWith(run.line, kUnverifiableMessage)) {
    if (run.ownHere.size() == 1 && NamedCode(run.line) != run.ownHere[0]->codice) {
      finding.Fail(Quote(run.line) + ", but its row is stored with code " + run.ownHere[0]->codice);
    }
  } else if (!run.ownHere.empty()) {
    finding.Fail("exit 1 (" + (run.record.outputSeen ? Quote(run.line) : std::string("output not seen")) +
                 "), but its row " + run.ownHere[0]->codice + " is stored");
  }
}

// --- Each run whose output was read whole.

void OneMessageEndedByCrLf(const RunFacts& run, const Finding& finding) {
  const std::string& out = run.record.out;
  if (out.size() < 3 || out.compare(out.size() - 2, 2, "\r\n") != 0) {
    finding.Fail("its output is not one message ended by CR LF: " + Quote(out));
  } else if (StartsWith(out, "\r\n") || run.line.find("\r\n\r\n") != std::string::npos ||
             (run.line.size() >= 2 && run.line.compare(run.line.size() - 2, 2, "\r\n") == 0)) {
    finding.Fail("its message has an empty line: " + Quote(out));
  } else if (run.line.find_first_not_of(" \t\r\n") == std::string::npos) {
    // Blanks say nothing either: a message the user cannot read is as good as none.
    finding.Fail("its message is blank: " + Quote(out));
  }
  if (!IsUtf8(out)) finding.Fail("its output is not UTF-8: " + Quote(out));
  if (HasStrayControl(out)) finding.Fail("its output holds a control character: " + Quote(out));
  if (run.line.find("deadlock") != std::string::npos) {
    finding.Fail("the engine's lock-conflict text reached the line: " + Quote(out));
  }
}

void StoredCodeNamesTheNumber(const RunFacts& run, const Finding& finding) {
  const std::string present = "P.IVA " + run.plan.piva + " presente in archivio (codice ";
  if (run.record.exitCode != 1 || !StartsWith(run.line, present)) return;
  const StoredRow* named = FindRow(run.result.rows, run.plan.company, run.plan.table, NamedCode(run.line));
  if (named == nullptr || NormalizeVat(named->pi) != run.number.digits) {
    finding.Fail(Quote(run.line) + ", but that code does not hold the number in " +
                 Where(run.plan.company, run.plan.table));
  }
}

// What the company's settings decide before the registry is asked, the registry's faults cannot
// change.
void SettingsDecideBeforeTheRegistry(const RunFacts& run, const Finding& finding) {
  if (run.fault != FaultKind::None && !IsRegistryFault(run.fault)) return;
  // The look before the call takes the company's write lock: another run that holds it longer
  // than the lock's wait (a silent one holds it until it has ended) refuses this one before it
  // pays, as a run without a fault may be refused.
  if (run.rule != ExistingRule::Off && StartsWith(run.line, "Archivio occupato")) return;
  const int exitCode = run.record.exitCode;
  const std::string& piva = run.plan.piva;
  std::string expected;
  bool matches = true;
  if (run.invalidNumber) {
    expected = "P.IVA " + piva + " non valida";
    matches = exitCode == 1 && run.line == expected;
  } else if (run.alreadyStored && run.rule == ExistingRule::Reuse) {
    expected = "the code of the stored subject";
    matches = exitCode == 0;
  } else if (run.alreadyStored) {
    expected = "P.IVA " + piva + " presente in archivio (codice ...)";
    matches = exitCode == 1 && StartsWith(run.line, "P.IVA " + piva + " presente in archivio (codice ");
  }
  if (!matches) {
    finding.Fail("expected " + Quote(expected) + ", got exit " + std::to_string(exitCode) + " with " +
                 Quote(run.record.out));
  }
}

// Without a fault, a run fails only for a reason of its company's settings.
void NoFailureWithoutAFault(const RunFacts& run, const Finding& finding) {
  if (run.fault != FaultKind::None || run.record.exitCode != 1) return;
  const std::string& piva = run.plan.piva;
  const std::string& line = run.line;
  const bool allowed =
      (run.invalidNumber && line == "P.IVA " + piva + " non valida") ||
      (run.rule == ExistingRule::Refuse && StartsWith(line, "P.IVA " + piva + " presente in archivio (codice ")) ||
      (run.number.ceased && run.company.refuseCeased[run.plan.table] &&
       line == "Impresa cessata (P.IVA " + piva + ")") ||
      (run.rule != ExistingRule::Off && StartsWith(line, "Archivio occupato")) ||
      (StartsWith(line, kNoAnswerMessage) && SilentNeighbour(run));
  if (!allowed) finding.Fail("failed without a fault: " + Quote(run.record.out));
}

// After its line the process ends within seconds, whatever the release of its connections
// meets: a caller that waits for it must not hang once the outcome is settled.
void EndsSoonAfterItsLine(const RunFacts& run, const Finding& finding) {
  const RunRecord& record = run.record;
  if (record.lineMs < 0 || record.durationMs - record.lineMs <= (kEndAfterLineSeconds + kMarginSeconds) * 1000.0) {
    return;
  }
  finding.Fail("ended " + std::to_string(static_cast<int>(record.durationMs - record.lineMs)) + " ms after its line (" +
               std::to_string(kEndAfterLineSeconds) + " s are promised)");
}

// "Esito della scrittura non verificabile" says that the row may be there: only a run whose
// archive connection was lost or went silent, or that was told to stop, once the registry had
// begun its answer (the insert and the commit come after it) may say so.
void UnverifiableOnlyWhereTheRowMayExist(const RunFacts& run, const Finding& finding) {
  if (!StartsWith(run.line, kUnverifiableMessage)) return;
  const RunRecord& record = run.record;
  const auto answerAt = record.registry.answerAt;
  bool mayExist = false;
  if (IsDatabaseFault(run.fault) && record.faultFired && run.plan.fault.connection >= 2) {
    mayExist = answerAt && record.relay.firedAt && *record.relay.firedAt >= *answerAt;
  } else if (run.fault == FaultKind::StopSignal && record.signalSentMs >= 0) {
    const auto sentAt = record.start + std::chrono::duration_cast<Clock::duration>(
                                           std::chrono::duration<double, std::milli>(record.signalSentMs));
    mayExist = answerAt && sentAt >= *answerAt;
  }
  if (!mayExist) {
    finding.Fail(Quote(run.line) + ", although its " +
                 (run.fault == FaultKind::None ? std::string("run had no fault")
                                               : "fault (" + Describe(run.plan.fault) + ") came " +
                                                     (record.faultFired ? "before the registry's answer" : "never")) +
                 ": its commit was never under way");
  }
}

constexpr RunInvariant kEnds[] = {
    {"ends by itself within its bound", Judges::OwnEnd, EndsByItselfWithinItsBound},
    {"exit 0 or 1, nothing on standard error", Judges::Exited, ExitZeroOrOneAndNoStderr},
    {"ends soon after a stop signal", Judges::Exited, EndsSoonAfterAStopSignal},
    {"exit 0 only with its row", Judges::Exited, ExitZeroOnlyWithItsRow},
    {"exit 1 writes nothing", Judges::Exited, ExitOneWritesNothing},
    {"one clean message ended by CR LF", Judges::Output, OneMessageEndedByCrLf},
    {"a stored subject's code holds its number", Judges::Output, StoredCodeNamesTheNumber},
    {"the settings decide before the registry", Judges::Output, SettingsDecideBeforeTheRegistry},
    {"no failure without a fault", Judges::Output, NoFailureWithoutAFault},
    {"ends within seconds of its line", Judges::Output, EndsSoonAfterItsLine},
    {"\"non verificabile\" only where the row may exist", Judges::Output, UnverifiableOnlyWhereTheRowMayExist},
};

}  // namespace

std::span<const RunInvariant> EndInvariants() { return kEnds; }

}  // namespace korvane::soak
