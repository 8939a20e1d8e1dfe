#include "app/run/PaidRequest.h"

#include "platform/Exception.h"
#include "registry/Uri.h"

namespace korvane {

LedgerRequest LedgerEntryFor(Session& session, const std::string& vatNumber) {
  const SessionInputs& inputs = session.Inputs();
  const registry::RegistryEndpoint& endpoint = session.Registry().Endpoint();
  return {inputs.user, inputs.company,         inputs.tipoSoggetto == TTipoSoggetto::tsFornitore ? 'F' : 'C',
          vatNumber,   endpoint.HostAndPort(), endpoint.RequestPath(vatNumber)};
}

PaidRequest::PaidRequest(Session& session, std::string vatNumber)
    : session_(session), vatNumber_(std::move(vatNumber)), apiToken_(session.Inputs().apiToken) {}

PaidRequest::~PaidRequest() { Settle(1, "Richiesta non conclusa"); }

void PaidRequest::Record() {
  if (RequestLedger* ledger = session_.Ledger()) {
    ledgerKey_ = ledger->RecordRequest(LedgerEntryFor(session_, vatNumber_));
  }
}

const PaidAnswer& PaidRequest::Ask(registry::RegistryClient& client) {
  answer_ = {};
  try {
    answer_.body = client.InterrogaRegistro(vatNumber_, apiToken_);
  } catch (...) {
    answer_.status = client.LastStatus();
    answer_.requestSent = client.LastRequestSent();
    answer_.retryAfter = client.LastRetryAfter();
    throw;
  }
  answer_.status = client.LastStatus();
  answer_.requestSent = client.LastRequestSent();
  return answer_;
}

void PaidRequest::Settle(int exitCode, std::string_view message) noexcept {
  if (settled_ || ledgerKey_.empty()) return;
  settled_ = true;
  if (RequestLedger* ledger = session_.Ledger()) {
    const int status = answer_.status;
    ledger->RecordOutcome(ledgerKey_, status > 0 ? std::to_string(status) : std::string(message), exitCode, message);
  }
}

std::string AnswerEndpoint(const Session& session) {
  const Uri& uri = session.Inputs().options.registryEndpoint.Address();
  const std::string host = uri.ipv6 ? "[" + uri.host + "]" : uri.host;
  return (uri.port.empty() ? host : host + ":" + uri.port) + uri.path + uri.document;
}

PaidAnswer RequestAnswer(Session& session, const std::string& vatNumber) {
  PaidRequest request(session, vatNumber);
  request.Record();
  try {
    request.Ask(session.Registry());
  } catch (const Exception& error) {
    request.Settle(1, error.Message());
    throw;
  }
  request.Settle(0, {});
  return request.Answer();
}

}  // namespace korvane
