#pragma once

#include <cstdint>
#include <optional>
#include <string>

// What one run of korvane.exe prints and its exit code: the service's answer, or the client's
// own failure.
namespace korvane::winclient {

// The text to print, UTF-8 with its line end, and the exit code.
struct Outcome {
  std::string text;
  int exitCode = 1;
};

// The service's answer as the HTTP stack gives it.
struct ServiceAnswer {
  unsigned status = 0;
  std::string contentType;
  std::optional<std::string> exitHeader;  // X-Korvane-Exit
  std::string body;
  bool bodyComplete = true;                 // false when reading the body failed or it was too large
  std::optional<std::uint64_t> bodyLength;  // Content-Length, when the answer gave one
};

// The client's own failures. Those before the request's body left the desktop ran nothing; after
// it, the service may have run the import, and the message says to look before retrying.
enum class Failure {
  kNotReached,    // no connection to the service
  kNotAnswering,  // connected, but the service did not complete the secure channel in time
  // The secure channel failed: without a pin, a certificate that does not chain to the trust store
  // or name the server; no TLS version or suite in common; a server silent in the handshake. (The
  // HTTP stacks do not tell these apart alike.)
  kSecureChannel,
  kPinMismatch,     // the certificate is not the one the pin names
  kNoAnswer,        // the body was sent and no answer came within the wait
  kConnectionLost,  // the body was (perhaps partly) sent and the connection broke before the answer
  kBadAnswer,       // an answer that is not the service's
};

// The line of a failure (without its line end).
std::string FailureLine(Failure failure, const std::string& server, int waitSeconds);

// A line of the client's own: the text and CR LF, exit 1.
Outcome LineOutcome(const std::string& line);

// The service's answer, believed only when it is whole and the protocol's: an import's output as it
// is with its exit code (a 200 with X-Korvane-Exit 0 or 1 and exactly Content-Length bytes ending
// with a line end); a refusal's text (a status and a text of the service's own); for anything
// else, that the answer came from something else and the import's outcome is unknown.
Outcome AnswerOutcome(const ServiceAnswer& answer, const std::string& server, int waitSeconds);

}  // namespace korvane::winclient
