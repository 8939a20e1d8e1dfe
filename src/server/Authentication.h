#pragma once

#include <cstdint>
#include <string>
#include <string_view>

#include "server/SeenNonces.h"

// Which desktop signed a request, and whether the request is fresh: its time within 300 s of this
// clock and its nonce not seen in the last 10 minutes.
namespace korvane::server {

inline constexpr std::int64_t kClockSkewSeconds = 300;

// The request's own headers, as received (empty when missing).
struct SignedHeaders {
  std::string keyName;    // X-Korvane-Key
  std::string time;       // X-Korvane-Time
  std::string nonce;      // X-Korvane-Nonce
  std::string signature;  // X-Korvane-Signature
};

// The key's name when the request is signed by a key in use of the keys file (read at each call,
// so a revoked key stops at once) and is fresh. `target` is the request line's, as received.
// Raises Refusal 401, with the reason for the log; 500 when the keys file cannot be read or the
// nonce cannot be recorded.
std::string Authenticate(const std::string& keysFile, SeenNonces& nonces, std::string_view method,
                         std::string_view target, const SignedHeaders& headers, std::string_view body,
                         std::int64_t now);

}  // namespace korvane::server
