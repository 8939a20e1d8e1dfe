#pragma once

#include <string>

#include "platform/Exception.h"

// Socket failures are reported with the Windows Sockets error numbers and texts that the
// tool's callers know, whatever the platform's own numbers are.
namespace korvane::platform {

inline constexpr int kWsaTimedOut = 10060;
inline constexpr int kWsaConnectionRefused = 10061;
inline constexpr int kWsaConnectionReset = 10054;
inline constexpr int kWsaHostNotFound = 11001;
inline constexpr int kWsaTryAgain = 11002;
inline constexpr int kWsaInterrupted = 10004;
inline constexpr int kWsaWouldBlock = 10035;
inline constexpr int kWsaInProgress = 10036;

// A failed socket operation; callers that tell a time-out apart from other failures read
// the number.
class SocketError : public Exception {
 public:
  explicit SocketError(int number);
  int Number() const noexcept { return number_; }

 private:
  int number_;
};

// "Socket Error # %d" CR LF and the number's text; "Socket Error # %d" alone for a number that
// has no text (11002, 11003, 11004 among them), so that the message never ends with an empty line.
std::string SocketErrorMessage(int number);

// The Windows Sockets number for an errno value. EAGAIN / EWOULDBLOCK on a blocking socket
// with a time limit means the limit ran out: pass timedOutIfWouldBlock to get 10060.
int WsaErrorFromErrno(int error, bool timedOutIfWouldBlock = true);

// The Windows Sockets number for a getaddrinfo() result; errnoValue, errno read right after the
// call, is used for EAI_SYSTEM. The one place a lookup's failure becomes a number.
int WsaErrorFromLookup(int gaiError, int errnoValue);

}  // namespace korvane::platform
