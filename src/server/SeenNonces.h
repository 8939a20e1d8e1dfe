#pragma once

#include <cstdint>
#include <deque>
#include <mutex>
#include <string>
#include <unordered_set>
#include <utility>

// The nonces of accepted requests, each kept until its time can no longer pass the clock check,
// and written to a file of the service's state folder before the import starts: a copied request
// is refused after a restart too. Safe from any thread.
namespace korvane::server {

inline constexpr std::int64_t kNonceLifetimeSeconds = 600;
inline constexpr const char* kNonceFileName = "korvane-server-nonces";

class SeenNonces {
 public:
  // Reads the file (one "<unix seconds> <nonce>" line each; a torn last line is dropped), keeps
  // what is still within its lifetime, rewrites it with that alone and appends to it from then
  // on. Raises, naming the file, when it cannot be read or written. An empty name keeps the
  // nonces in memory only (a test's service).
  SeenNonces(std::string fileName, std::int64_t now);
  ~SeenNonces();
  SeenNonces(const SeenNonces&) = delete;
  SeenNonces& operator=(const SeenNonces&) = delete;

  // True the first time, once the nonce is on disk; false for a nonce already seen. Raises when
  // it cannot be recorded: such a request must not run.
  bool First(const std::string& nonce, std::int64_t now);

 private:
  void Forget(std::int64_t now);
  void Rewrite();

  const std::string fileName_;
  std::mutex mutex_;
  int file_ = -1;
  std::size_t linesInFile_ = 0;
  std::unordered_set<std::string> seen_;
  std::deque<std::pair<std::int64_t, std::string>> byTime_;
};

}  // namespace korvane::server
