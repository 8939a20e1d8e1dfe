#pragma once

#include <chrono>
#include <optional>
#include <string>

// One line per request on standard output (the journal, under systemd): what a firm asks of the
// service. Never the key, the signature or the token.
namespace korvane::server {

struct AccessRecord {
  std::chrono::system_clock::time_point time;
  std::string keyName;  // once the signature is checked
  std::string client;   // the peer's address
  std::string utente;   // the import's switches, once the request is accepted
  std::string ditta;
  std::string piva;
  int status = 0;
  std::optional<int> exitCode;  // the import's
  std::chrono::milliseconds duration{0};
  std::string note;  // why a request was refused, or what happened to an import
};

// "2026-12-10T09:30:00.123Z key=desk01 client=192.168.1.20 user=17 company=01 vat=01234567890
// status=200 exit=0 ms=842" and a final note="..." when there is one; "-" for what is not known.
// Text from the client is made safe for one line.
std::string AccessLine(const AccessRecord& record);

}  // namespace korvane::server
