#pragma once

#include <cstddef>

namespace korvane::registry {

// The message of a receive that waited past its limit, and of an exchange that ran past its
// deadline.
inline constexpr const char* kReadTimedOutMessage = "Read timed out.";

// The most bytes one read takes from a source: the answer reader's buffer and the TLS channel's
// largest receive.
inline constexpr std::size_t kReadBufferSize = 32768;

// Where the answer of an HTTP request comes from: the TLS channel in the program, a block of
// memory in tests and in the fuzz target.
class ByteSource {
 public:
  virtual ~ByteSource() = default;

  // Blocks until at least one byte is there and copies up to `size` bytes; returns 0 once the
  // peer has closed the connection. Failures raise korvane::Exception (socket failures
  // platform::SocketError, a receive past its limit with the number 10060, an exchange past its
  // deadline kReadTimedOutMessage).
  virtual std::size_t Read(char* buffer, std::size_t size) = 0;

  // True when a byte (or the peer's close) is there within `milliseconds`, false otherwise.
  // Raises like Read when the exchange's deadline passes first.
  virtual bool WaitForData(int milliseconds) = 0;
};

}  // namespace korvane::registry
