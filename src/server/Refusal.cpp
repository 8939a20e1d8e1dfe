#include "server/Refusal.h"

#include "protocol/DesktopProtocol.h"

namespace korvane::server {

namespace {

Refusal Fixed(int status, std::string reason = {}) {
  return Refusal(status, std::string(protocol::RefusalText(status)), std::move(reason));
}

}  // namespace

Refusal Refusal::BadRequest(const std::string& what) {
  return {400, std::string(protocol::kBadRequestOpening) + what + ")"};
}

Refusal Refusal::BadKey(std::string reason) { return Fixed(401, std::move(reason)); }
Refusal Refusal::AddressNotAllowed() { return Fixed(403); }
Refusal Refusal::NotFound() { return Fixed(404); }
Refusal Refusal::TooLarge() { return Fixed(413); }
Refusal Refusal::Busy() { return Fixed(503); }
Refusal Refusal::Internal(std::string reason) { return Fixed(500, std::move(reason)); }

std::string Refusal::TextForStatus(int status) {
  switch (status) {
    case 401: return BadKey({}).Message();
    case 403: return AddressNotAllowed().Message();
    case 404:
    case 405: return NotFound().Message();
    case 413:
    case 414:
    case 431: return TooLarge().Message();
    case 503: return Busy().Message();
    default: break;
  }
  if (status >= 500) return Internal({}).Message();
  return BadRequest("richiesta HTTP malformata").Message();
}

}  // namespace korvane::server
