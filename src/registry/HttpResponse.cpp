#include "registry/HttpResponse.h"

#include <algorithm>
#include <array>
#include <cstdio>
#include <cstring>
#include <ctime>
#include <limits>
#include <optional>

#include "platform/CodePages.h"
#include "platform/Convert.h"
#include "platform/Exception.h"
#include "platform/MessageText.h"
#include "platform/SocketErrors.h"
#include "platform/Text.h"
#include "registry/Charset.h"

namespace korvane::registry {

namespace {

constexpr const char* kClosedGracefully = "Connection Closed Gracefully.";
constexpr const char* kLineTooLong = "Max line length exceeded.";
constexpr const char* kTooManyHeaders = "Max header line count exceeded.";
constexpr const char* kBodyTooLarge = "Max body size exceeded.";
// How much of an answer that is not HTTP its message shows.
constexpr std::size_t kShownStart = 40;

// The body stopped short: the peer closed within it, or it went past the body limit. An error
// answer's status line then stays its message.
class BodyCut : public Exception {
 public:
  using Exception::Exception;
};

// The chunk size: at most 16 hexadecimal digits before any ";", trimmed; a size that is no
// number, or does not fit in 64 bits, counts as 0.
std::uint64_t ChunkSizeOf(std::string_view line) {
  const std::string_view digits = platform::TrimControl(line.substr(0, line.find(';')));
  if (digits.size() > 16) return 0;
  return platform::DigitsValue(digits, 16).value_or(0);
}

}  // namespace

// One line without its LF (and the CR just before it); nothing when the peer closed first.
std::optional<std::string> HttpAnswerReader::ReadLine() {
  std::size_t scanned = 0;
  for (;;) {
    const std::size_t lf = buffer_.find('\n', pos_ + scanned);
    if (lf != std::string::npos) {
      if (lf - pos_ > limits_.maxLineLength) throw Exception(kLineTooLong);
      std::size_t end = lf;
      if (end > pos_ && buffer_[end - 1] == '\r') --end;
      std::string line = buffer_.substr(pos_, end - pos_);
      pos_ = lf + 1;
      return line;
    }
    scanned = buffer_.size() - pos_;
    if (scanned > limits_.maxLineLength) throw Exception(kLineTooLong);
    if (!Fill()) return std::nullopt;
  }
}

// Up to `count` bytes, fewer when the peer closes; appended to `out` unless discarding.
// Returns the number of bytes taken.
std::uint64_t HttpAnswerReader::ReadBytes(std::uint64_t count, std::string* out) {
  std::uint64_t taken = 0;
  while (taken < count) {
    if (pos_ == buffer_.size() && !Fill()) break;
    const std::size_t chunk = static_cast<std::size_t>(std::min<std::uint64_t>(count - taken, buffer_.size() - pos_));
    if (out != nullptr) out->append(buffer_, pos_, chunk);
    pos_ += chunk;
    taken += chunk;
  }
  return taken;
}

bool HttpAnswerReader::DataWithin(int milliseconds) {
  if (pos_ < buffer_.size() || closed_) return true;
  return source_.WaitForData(milliseconds);
}

// Reads more from the source; false when the peer has closed.
bool HttpAnswerReader::Fill() {
  if (closed_) return false;
  if (pos_ > 0) {
    buffer_.erase(0, pos_);
    pos_ = 0;
  }
  char chunk[kReadBufferSize];
  std::size_t got = 0;
  try {
    got = source_.Read(chunk, sizeof chunk);
  } catch (const platform::SocketError& error) {
    if (error.Number() == platform::kWsaTimedOut) throw Exception(kReadTimedOutMessage);
    throw;
  }
  if (got == 0) {
    closed_ = true;
    answer_.peerClosed = true;
    return false;
  }
  buffer_.append(chunk, got);
  return true;
}

void HttpAnswerReader::AddHeaderLine(std::string line) {
  if (++headerLines_ > limits_.maxHeaderLines) throw Exception(kTooManyHeaders);
  if (!line.empty() && (line[0] == ' ' || line[0] == '\t') && !answer_.headers.empty()) {
    answer_.headers.back() += line;
  } else {
    answer_.headers.push_back(std::move(line));
  }
}

// Reads header lines up to the empty line; a close by the peer ends the head too.
void HttpAnswerReader::ReadHeaderLines() {
  for (;;) {
    std::optional<std::string> line = ReadLine();
    if (!line || line->empty()) return;
    AddHeaderLine(platform::AsciiToUtf8(*line));
  }
}

// Up to `count` body bytes within the body limit; a body that goes on past the limit fails.
std::uint64_t HttpAnswerReader::TakeBody(std::uint64_t count, std::string* body) {
  const std::uint64_t room = limits_.maxBodyBytes - bodyBytes_;
  const std::uint64_t got = ReadBytes(std::min(count, room), body);
  bodyBytes_ += got;
  if (got == room && count > room) {
    // One byte more shows whether the body really is larger than the limit.
    if (ReadBytes(1, nullptr) == 1) throw BodyCut(kBodyTooLarge);
  }
  return got;
}

// Reads the body by its framing into `body`, or discards it when `body` is null.
void HttpAnswerReader::ReadBody(std::string* body) {
  const std::string transferEncoding = platform::LowerCaseAscii(answer_.Header("Transfer-Encoding"));
  if (transferEncoding.find("chunked") != std::string::npos) {
    for (;;) {
      const std::optional<std::string> sizeLine = ReadLine();
      if (!sizeLine) throw BodyCut(kClosedGracefully);
      const std::uint64_t size = ChunkSizeOf(*sizeLine);
      if (size == 0) break;
      if (TakeBody(size, body) < size) throw BodyCut(kClosedGracefully);
      if (!ReadLine()) throw BodyCut(kClosedGracefully);
    }
    for (;;) {
      std::optional<std::string> trailer = ReadLine();
      if (!trailer) throw BodyCut(kClosedGracefully);
      if (trailer->empty()) return;
      AddHeaderLine(platform::AsciiToUtf8(*trailer));
    }
  }
  if (answer_.HasHeader("Content-Length")) {
    const std::optional<std::int64_t> length = platform::DecimalToInt64(answer_.Header("Content-Length"));
    // A negative length is the same as none: the body runs to the close.
    if (length && *length >= 0) {
      TakeBody(static_cast<std::uint64_t>(*length), body);
      return;
    }
  }
  TakeBody(UINT64_MAX, body);
}

void HttpAnswerReader::FailWithStatus(bool readBody) {
  if (readBody) {
    try {
      ReadBody(nullptr);
    } catch (const BodyCut&) {
      // The server's close within the body (or a body past the limit) leaves the status as the
      // message.
    }
  }
  throw Exception(platform::OutsideTextForMessage(answer_.statusLine));
}

std::string HttpAnswerReader::ReadAnswer() {
  for (;;) {
    std::optional<std::string> statusLine = ReadLine();
    if (!statusLine) throw Exception(kClosedGracefully);
    answer_.statusLine = platform::AsciiToUtf8(*statusLine);
    // What is not HTTP is not shown as if it were a status (an empty line, blanks, random bytes
    // would make an empty or meaningless message): it is named, with its start made safe.
    if (!answer_.statusLine.starts_with("HTTP/")) {
      throw Exception("Risposta del registro non HTTP (inizio: \"" +
                      platform::OutsideTextForMessage(platform::AsciiToUtf8(statusLine->substr(0, kShownStart))) +
                      "\")");
    }
    answer_.responseCode = StatusCodeOf(answer_.statusLine);
    answer_.headers.clear();
    ReadHeaderLines();
    const int code = answer_.responseCode;
    if (code < 100 || code > 199 || code == 101) break;
  }

  const int code = answer_.responseCode;
  if (code >= 300 && code <= 399 && code != 304) FailWithStatus(DataWithin(limits_.redirectBodyWaitMs));
  if (code == 101) return {};
  if (code == 304) FailWithStatus(false);
  if (code < 200 || code > 299) FailWithStatus(true);
  if (code == 204) return {};

  std::string body;
  ReadBody(&body);
  return DecodeCharset(body, CharsetOfContentType(answer_.Header("Content-Type")));
}

std::string HttpAnswer::Header(std::string_view name) const {
  for (const std::string& line : headers) {
    const std::size_t colon = line.find(':');
    if (colon == std::string::npos) continue;
    if (platform::SameTextAscii(platform::TrimControl(std::string_view(line).substr(0, colon)), name)) {
      return std::string(platform::TrimControl(std::string_view(line).substr(colon + 1)));
    }
  }
  return {};
}

bool HttpAnswer::HasHeader(std::string_view name) const {
  return std::any_of(headers.begin(), headers.end(), [&](const std::string& line) {
    const std::size_t colon = line.find(':');
    return colon != std::string::npos &&
           platform::SameTextAscii(platform::TrimControl(std::string_view(line).substr(0, colon)), name);
  });
}

bool HttpAnswer::MustClose() const { return peerClosed || platform::SameTextAscii(Header("Connection"), "close"); }

namespace {

constexpr std::int64_t kLongestRetryAfter = std::numeric_limits<std::int32_t>::max();

// An HTTP date in any of its three forms ("Sun, 06 Nov 1994 08:49:37 GMT", "Sunday, 06-Nov-94
// 08:49:37 GMT", "Sun Nov  6 08:49:37 1994"), as seconds since the epoch.
std::optional<std::time_t> HttpDateSeconds(const std::string& text) {
  static constexpr std::array<std::string_view, 12> kMonths{"Jan", "Feb", "Mar", "Apr", "May", "Jun",
                                                            "Jul", "Aug", "Sep", "Oct", "Nov", "Dec"};
  char month[4] = {};
  std::tm time{};
  int consumed = 0;
  const char* value = text.c_str();
  const bool read = [&] {
    const char* afterName = std::strchr(value, ',');
    if (afterName != nullptr) {
      return std::sscanf(afterName, ", %2d %3s %4d %2d:%2d:%2d GMT%n", &time.tm_mday, month, &time.tm_year,
                         &time.tm_hour, &time.tm_min, &time.tm_sec, &consumed) == 6 ||
             std::sscanf(afterName, ", %2d-%3s-%2d %2d:%2d:%2d GMT%n", &time.tm_mday, month, &time.tm_year,
                         &time.tm_hour, &time.tm_min, &time.tm_sec, &consumed) == 6;
    }
    return std::sscanf(value, "%*3s %3s %2d %2d:%2d:%2d %4d%n", month, &time.tm_mday, &time.tm_hour, &time.tm_min,
                       &time.tm_sec, &time.tm_year, &consumed) == 6;
  }();
  if (!read || consumed == 0) return std::nullopt;
  const auto found = std::find(kMonths.begin(), kMonths.end(), std::string_view(month));
  if (found == kMonths.end()) return std::nullopt;
  time.tm_mon = static_cast<int>(found - kMonths.begin());
  // Two-digit years: 70 to 99 are the last century, the rest this one.
  if (time.tm_year < 100) time.tm_year += time.tm_year >= 70 ? 1900 : 2000;
  time.tm_year -= 1900;
  const std::time_t seconds = timegm(&time);
  if (seconds == -1) return std::nullopt;
  return seconds;
}

}  // namespace

std::optional<std::chrono::seconds> RetryAfterOf(const HttpAnswer& answer, std::chrono::system_clock::time_point now) {
  const std::string value = answer.Header("Retry-After");
  if (value.empty()) return std::nullopt;
  if (std::all_of(value.begin(), value.end(), [](char c) { return c >= '0' && c <= '9'; })) {
    const std::optional<std::int64_t> seconds = platform::DecimalToInt64(value);
    return std::chrono::seconds(seconds ? std::min(*seconds, kLongestRetryAfter) : kLongestRetryAfter);
  }
  const std::optional<std::time_t> at = HttpDateSeconds(value);
  if (!at) return std::nullopt;
  const auto wait = std::chrono::duration_cast<std::chrono::seconds>(std::chrono::system_clock::from_time_t(*at) - now);
  return std::clamp(wait, std::chrono::seconds(0), std::chrono::seconds(kLongestRetryAfter));
}

int StatusCodeOf(std::string_view statusLine) {
  const std::size_t space = statusLine.find(' ');
  if (space == std::string_view::npos) return -1;
  std::string_view rest = platform::TrimControl(statusLine.substr(space + 1));
  rest = rest.substr(0, rest.find(' '));
  rest = rest.substr(0, rest.find('.'));
  const std::optional<std::int64_t> code = platform::DecimalToInt64(platform::TrimControl(rest));
  if (!code || *code < INT32_MIN || *code > INT32_MAX) return -1;
  return static_cast<int>(*code);
}

}  // namespace korvane::registry
