#pragma once

#include <chrono>
#include <optional>
#include <string>
#include <string_view>

#include "app/ledger/RequestLedger.h"
#include "app/run/Session.h"
#include "registry/Registro.h"

namespace korvane {

// The registry's answer to one paid request, as it came.
struct PaidAnswer {
  std::string body;
  // The answer's HTTP status; 0 when none arrived.
  int status = 0;
  // True once the request's bytes began to leave: from there it may be paid for.
  bool requestSent = false;
  // How long the registry asked to wait before asking again (its Retry-After); nothing when it
  // did not say.
  std::optional<std::chrono::seconds> retryAfter;
};

// The request of one VAT number that costs money, in its three steps: the ledger's record before
// it leaves (where the daily limit refuses it), the question to the registry, and the ledger's
// outcome once the caller knows how the subject ended. The record and the outcome touch the
// session's ledger and belong to the session's thread; the question touches only the client it is
// given and may be asked in another thread.
class PaidRequest {
 public:
  PaidRequest(Session& session, std::string vatNumber);
  // An outcome never settled is settled as the failure "Richiesta non conclusa".
  ~PaidRequest();
  PaidRequest(const PaidRequest&) = delete;
  PaidRequest& operator=(const PaidRequest&) = delete;

  // Records the request in the session's ledger, when there is one; raises the daily limit's
  // refusal or the ledger's failure, and then nothing may be sent.
  void Record();
  // Asks `client` (the session's, or one made for another thread) and returns the answer's body.
  // A failure raises the run's message; its status and whether it left stay in Answer().
  const PaidAnswer& Ask(registry::RegistryClient& client);
  // What the registry answered (or how far the request came before it failed).
  const PaidAnswer& Answer() const { return answer_; }
  // The ledger's outcome of the recorded request: the answer's status (or the failure's message
  // when none arrived), the exit code and the message of the subject's outcome. Once; never
  // raises.
  void Settle(int exitCode, std::string_view message) noexcept;
  // The ledger's key of the recorded request; empty when none was recorded.
  const std::string& LedgerKey() const { return ledgerKey_; }

  const std::string& VatNumber() const { return vatNumber_; }

 private:
  Session& session_;
  std::string vatNumber_;
  // Read in the session's thread: the question may be asked in another.
  std::string apiToken_;
  PaidAnswer answer_;
  std::string ledgerKey_;
  bool settled_ = false;
};

// The request as the ledger records it: the session's user, company and kind, the VAT number, and
// the host and path the request goes to.
LedgerRequest LedgerEntryFor(Session& session, const std::string& vatNumber);

// The host and path the session's registry answers from, as the store keeps its answers.
std::string AnswerEndpoint(const Session& session);

// One paid request from start to end: recorded, asked on the session's client, and its outcome
// recorded at once (exit code 0 with the answer, the failure's message and 1 without). Returns the
// answer or raises the run's message.
PaidAnswer RequestAnswer(Session& session, const std::string& vatNumber);

}  // namespace korvane
