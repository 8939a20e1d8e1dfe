#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <string>

#include "server/ImportQueue.h"
#include "server/Settings.h"

// The service: HTTPS (TLS 1.2 and later) on the configured address, one POST /v1/import per
// import, signed by a desktop's key; everything else is refused with a status and a short Italian
// line, and never starts an import.
namespace korvane::server {

class Service {
 public:
  // Receives each access-log line (with its line feed), one call at a time.
  using LogSink = std::function<void(const std::string& line)>;

  // Loads the certificate and its key; raises with a message when they do not load.
  Service(Settings settings, LogSink log);
  ~Service();
  Service(const Service&) = delete;
  Service& operator=(const Service&) = delete;

  // Takes the address and port (port 0: any free one); returns the port. Raises when it cannot.
  int Bind();
  // Serves until Stop(); returns once every request taken has been answered, so every import
  // that was running has ended and been logged.
  void Serve();
  // Stops taking connections and gives every request still waiting for its turn "busy". Safe from
  // any thread, at any time (also before Serve).
  void Stop();

  ImportQueue::Counts Queue() const;
  std::uint64_t ImportsStarted() const;

 private:
  struct Impl;
  std::unique_ptr<Impl> impl_;
};

}  // namespace korvane::server
