#pragma once

#include <chrono>
#include <cstdint>
#include <deque>
#include <mutex>
#include <string>
#include <string_view>
#include <unordered_set>

// Which desktop signed a request, and whether the request is fresh: its time within 300 s of this
// clock and its nonce not seen in the last 10 minutes.
namespace korvane::server {

inline constexpr std::int64_t kClockSkewSeconds = 300;
inline constexpr std::int64_t kNonceLifetimeSeconds = 600;

// The request's own headers, as received (empty when missing).
struct SignedHeaders {
  std::string keyName;    // X-Korvane-Key
  std::string time;       // X-Korvane-Time
  std::string nonce;      // X-Korvane-Nonce
  std::string signature;  // X-Korvane-Signature
};

// The nonces of accepted requests, each forgotten once its time can no longer pass the clock
// check. Safe from any thread.
class NonceMemory {
 public:
  // True, and remembered, the first time; false for a nonce already seen.
  bool First(const std::string& nonce, std::int64_t now);

 private:
  std::mutex mutex_;
  std::unordered_set<std::string> seen_;
  std::deque<std::pair<std::int64_t, std::string>> byTime_;
};

// The key's name when the request is signed by a key in use of the keys file (read at each call,
// so a revoked key stops at once) and is fresh. Raises Refusal 401, with the reason for the log;
// 500 when the keys file cannot be read.
std::string Authenticate(const std::string& keysFile, NonceMemory& nonces, std::string_view method,
                         std::string_view path, const SignedHeaders& headers, std::string_view body, std::int64_t now);

}  // namespace korvane::server
