#pragma once

#include <chrono>
#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "registry/ByteSource.h"

namespace korvane::registry {

struct ResponseLimits {
  std::size_t maxLineLength = 16384;         // bytes of one line before its LF
  std::size_t maxHeaderLines = 1000;         // header and trailer lines of one answer
  std::uint64_t maxBodyBytes = 64ull << 20;  // bytes of body kept or discarded
  int redirectBodyWaitMs = 5000;             // wait for the first byte of a 3xx body
};

// What the client keeps of an answer.
struct HttpAnswer {
  std::string statusLine;  // as received, bytes above 127 as U+FFFD
  int responseCode = -1;
  std::vector<std::string> headers;  // continuation lines joined to their line
  bool peerClosed = false;           // the server closed the connection while we read

  // The value of the first header of that name (without regard to case), trimmed.
  std::string Header(std::string_view name) const;
  bool HasHeader(std::string_view name) const;
  // True when the connection must not be kept: closed by the peer or "Connection: close".
  bool MustClose() const;
};

// How long the answer's Retry-After header asks the client to wait before it asks again: a
// number of seconds, or an HTTP date counted from `now` (a date already past is no wait).
// Nothing when there is no such header or its value is neither.
std::optional<std::chrono::seconds> RetryAfterOf(const HttpAnswer& answer, std::chrono::system_clock::time_point now);

// The status code of a status line: the text after the first space up to the next, before
// any "."; -1 when that is not a decimal number.
int StatusCodeOf(std::string_view statusLine);

// Reads one answer to a GET from a source: the head (skipping interim 1xx heads), then the body
// by its framing, decided by its status. One reader per answer; it keeps what it has read of the
// answer, also after a failure.
class HttpAnswerReader {
 public:
  explicit HttpAnswerReader(ByteSource& source, const ResponseLimits& limits = {}) : source_(source), limits_(limits) {}
  HttpAnswerReader(const HttpAnswerReader&) = delete;
  HttpAnswerReader& operator=(const HttpAnswerReader&) = delete;

  // Returns the body decoded by its character set as UTF-8 text; an unsuccessful status raises
  // korvane::Exception with the status line.
  std::string ReadAnswer();
  const HttpAnswer& Answer() const { return answer_; }

 private:
  std::optional<std::string> ReadLine();
  std::uint64_t ReadBytes(std::uint64_t count, std::string* out);
  bool DataWithin(int milliseconds);
  bool Fill();
  void ReadHeaderLines();
  void AddHeaderLine(std::string line);
  std::uint64_t TakeBody(std::uint64_t count, std::string* body);
  void ReadBody(std::string* body);
  [[noreturn]] void FailWithStatus(bool readBody);

  ByteSource& source_;
  const ResponseLimits limits_;
  HttpAnswer answer_;
  std::string buffer_;  // bytes received and not yet taken, from pos_
  std::size_t pos_ = 0;
  bool closed_ = false;          // the source has reported the peer's close
  std::size_t headerLines_ = 0;  // header and trailer lines of all heads so far
  std::uint64_t bodyBytes_ = 0;  // body bytes kept or discarded so far
};

}  // namespace korvane::registry
