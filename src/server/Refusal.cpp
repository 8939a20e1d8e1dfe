#include "server/Refusal.h"

namespace korvane::server {

Refusal Refusal::BadRequest(const std::string& what) { return {400, "Richiesta non valida (" + what + ")"}; }

Refusal Refusal::BadKey(std::string reason) {
  Refusal refusal(401, "Chiave del desktop non valida");
  refusal.reason_ = std::move(reason);
  return refusal;
}

Refusal Refusal::AddressNotAllowed() { return {403, "Indirizzo del desktop non autorizzato"}; }
Refusal Refusal::NotFound() { return {404, "Risorsa inesistente"}; }
Refusal Refusal::TooLarge() { return {413, "Richiesta troppo grande"}; }
Refusal Refusal::Busy() { return {503, "Servizio occupato (riprovare)"}; }

Refusal Refusal::Internal(std::string reason) {
  Refusal refusal(500, "Errore interno del servizio");
  refusal.reason_ = std::move(reason);
  return refusal;
}

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
