#pragma once

#include <string>

#include "platform/Exception.h"

namespace korvane::server {

// The service's own answer to a request it does not run: an HTTP status and one short Italian
// line, which the desktop prints as the import's message. No import has started.
class Refusal : public Exception {
 public:
  Refusal(int status, std::string text, std::string reason = {})
      : Exception(std::move(text)), status_(status), reason_(std::move(reason)) {}

  int Status() const { return status_; }

  // 400 "Richiesta non valida (<what>)": a body or a switch the service does not take.
  static Refusal BadRequest(const std::string& what);
  // 401: no key, an unknown or revoked one, a wrong signature, an old time, a nonce seen before.
  // `reason` is for the access log only; the desktop is not told which.
  static Refusal BadKey(std::string reason);
  static Refusal AddressNotAllowed();           // 403
  static Refusal NotFound();                    // 404: any other path or method
  static Refusal TooLarge();                    // 413
  static Refusal Busy();                        // 503: the queue is full or the wait is over
  static Refusal Internal(std::string reason);  // 500: the import could not be started

  // The text a status gets when the HTTP library itself refuses (a malformed request line).
  static std::string TextForStatus(int status);

  const std::string& Reason() const { return reason_; }

 private:
  int status_;
  std::string reason_;
};

}  // namespace korvane::server
