#include "registry/HttpResponse.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <optional>
#include <cstring>

#include "platform/SocketErrors.h"
#include "support/ErrorOf.h"

namespace korvane {
namespace {

// An answer held in memory, handed out in small pieces so that lines and chunks straddle
// reads. At its end it either closes or stalls (a receive that times out).
class MemorySource : public registry::ByteSource {
 public:
  explicit MemorySource(std::string data, bool stallAtEnd = false, std::size_t piece = 7)
      : data_(std::move(data)), stallAtEnd_(stallAtEnd), piece_(piece) {}

  std::size_t Read(char* buffer, std::size_t size) override {
    if (pos_ == data_.size()) {
      if (stallAtEnd_) throw platform::SocketError(platform::kWsaTimedOut);
      return 0;
    }
    const std::size_t count = std::min({size, piece_, data_.size() - pos_});
    std::memcpy(buffer, data_.data() + pos_, count);
    pos_ += count;
    return count;
  }
  bool WaitForData(int) override { return pos_ < data_.size() || !stallAtEnd_; }

 private:
  std::string data_;
  bool stallAtEnd_;
  std::size_t piece_;
  std::size_t pos_ = 0;
};

// The body text, or "error: " and the message.
std::string Outcome(const std::string& answer, bool stallAtEnd = false, const registry::ResponseLimits& limits = {}) {
  MemorySource source(answer, stallAtEnd);
  registry::HttpAnswerReader reader(source, limits);
  return testing::OutcomeOf([&] { return reader.ReadAnswer(); });
}

TEST(StatusCodeOf, ReadsTheNumberAfterTheFirstSpace) {
  const std::pair<const char*, int> cases[] = {
      {"HTTP/1.1 200 OK", 200}, {"HTTP/1.1  201   Created", 201}, {"HTTP/1.0 404.7 Odd", 404},  {"HTTP/1.1 abc", -1},
      {"HTTP/1.1", -1},         {"HTTP/1.1 99999999999 Big", -1}, {"HTTP/1.1 -5 Negative", -5}, {"", -1},
  };
  for (const auto& [line, code] : cases) EXPECT_EQ(registry::StatusCodeOf(line), code) << line;
}

struct AnswerCase {
  const char* name;
  std::string answer;
  std::string expected;
  bool stallAtEnd = false;
};

TEST(HttpAnswerReader, StatusFramingAndCloseRules) {
  const std::string big(300, 'x');
  const AnswerCase cases[] = {
      {"length", "HTTP/1.1 200 OK\r\nContent-Length: 5\r\n\r\nhelloEXTRA", "hello"},
      {"bare LF lines", "HTTP/1.1 200 OK\nContent-Length: 2\n\nok", "ok"},
      {"length cut short by close", "HTTP/1.1 200 OK\r\nContent-Length: 500\r\n\r\n" + big, big},
      {"length that is no number reads to close", "HTTP/1.1 200 OK\r\nContent-Length: 12x\r\n\r\nall of it",
       "all of it"},
      {"no length reads to close", "HTTP/1.1 200 OK\r\n\r\nuntil close", "until close"},
      {"chunked with extension and trailer",
       "HTTP/1.1 200 OK\r\nTransfer-Encoding: Chunked\r\n\r\n1a;name=value\r\nabcdefghijklmnopqrstuvwxyz\r\n"
       "3\r\n123\r\n0\r\nX-Trailer: yes\r\n\r\nignored",
       "abcdefghijklmnopqrstuvwxyz123"},
      {"chunk size that is no number ends the body",
       "HTTP/1.1 200 OK\r\nTransfer-Encoding: chunked\r\n\r\n2\r\nab\r\nzz\r\n\r\n", "ab"},
      {"chunk size beyond 64 bits is no number",
       "HTTP/1.1 200 OK\r\nTransfer-Encoding: chunked\r\n\r\n1ffffffffffffffff\r\nabc\r\n\r\n", ""},
      {"close inside a chunk", "HTTP/1.1 200 OK\r\nTransfer-Encoding: chunked\r\n\r\n10\r\nshort",
       "error: Connection Closed Gracefully."},
      {"close before the trailer ends", "HTTP/1.1 200 OK\r\nTransfer-Encoding: chunked\r\n\r\n0\r\n",
       "error: Connection Closed Gracefully."},
      {"interim 100 head skipped",
       "HTTP/1.1 100 Continue\r\nX-A: 1\r\n\r\nHTTP/1.1 200 OK\r\nContent-Length: 3\r\n\r\nabc", "abc"},
      {"close after an interim head", "HTTP/1.1 100 Continue\r\n\r\n", "error: Connection Closed Gracefully."},
      {"101 reads nothing", "HTTP/1.1 101 Switching Protocols\r\n\r\nnot a body", ""},
      {"204 reads nothing", "HTTP/1.1 204 No Content\r\n\r\nnot a body", ""},
      {"304 fails", "HTTP/1.1 304 Not Modified\r\n\r\n", "error: HTTP/1.1 304 Not Modified"},
      {"404 fails with the status line", "HTTP/1.1 404 Not Found\r\nContent-Length: 4\r\n\r\nnope",
       "error: HTTP/1.1 404 Not Found"},
      {"401 fails", "HTTP/1.1 401 Unauthorized\r\nWWW-Authenticate: Bearer realm=\"x\"\r\n\r\n",
       "error: HTTP/1.1 401 Unauthorized"},
      {"status that is no number fails", "HTTP/1.1 2xx OK\r\n\r\n", "error: HTTP/1.1 2xx OK"},
      // An answer that is not HTTP is named as such, never shown as a bare (or empty) status.
      {"not HTTP", "ICY 200 OK\r\n\r\n", "error: Risposta del registro non HTTP (inizio: \"ICY 200 OK\")"},
      {"empty first line", "\r\n\r\n", "error: Risposta del registro non HTTP (inizio: \"\")"},
      {"blanks", "  \r\n", "error: Risposta del registro non HTTP (inizio: \"  \")"},
      {"random bytes, control characters made safe", std::string("\x8f\x01z\x1b[2J") + std::string(60, 'x') + "\n",
       "error: Risposta del registro non HTTP (inizio: \"\xEF\xBF\xBD?z?[2J" + std::string(33, 'x') + "\")"},
      {"error body closed inside a chunk keeps the status",
       "HTTP/1.1 500 Internal Server Error\r\nTransfer-Encoding: chunked\r\n\r\n10\r\nab",
       "error: HTTP/1.1 500 Internal Server Error"},
      {"error body that times out reports the time-out", "HTTP/1.1 500 Oops\r\n\r\npartial", "error: Read timed out.",
       true},
      {"302 without body bytes does not wait for them", "HTTP/1.1 302 Found\r\nLocation: https://elsewhere/\r\n\r\n",
       "error: HTTP/1.1 302 Found", true},
      {"302 body is read", "HTTP/1.1 302 Found\r\nContent-Length: 2\r\n\r\nhi", "error: HTTP/1.1 302 Found"},
      {"nothing at all", "", "error: Connection Closed Gracefully."},
      {"close inside the status line", "HTTP/1.1 20", "error: Connection Closed Gracefully."},
      {"close inside the head keeps what came", "HTTP/1.1 200 OK\r\nContent-Type: text/plain\r\n", ""},
      {"time-out inside the head", "HTTP/1.1 200 OK\r\nContent-", "error: Read timed out.", true},
      {"byte above 127 in the status line", "HTTP/1.1 418 T\xE9\r\n\r\n", "error: HTTP/1.1 418 T\xEF\xBF\xBD"},
  };
  for (const AnswerCase& c : cases) EXPECT_EQ(Outcome(c.answer, c.stallAtEnd), c.expected) << c.name;
}

TEST(HttpAnswerReader, HeaderLookupContinuationsAndClose) {
  MemorySource source(
      "HTTP/1.1 200 OK\r\ncontent-type: application/json;\r\n\tcharset=windows-1252\r\n"
      "Connection:  Close \r\nContent-Type: text/plain\r\nContent-Length: 1\r\n\r\n\x80");
  registry::HttpAnswerReader reader(source);
  // The first Content-Type counts, with its continuation line.
  EXPECT_EQ(reader.ReadAnswer(), "\xE2\x82\xAC");
  const registry::HttpAnswer& answer = reader.Answer();
  EXPECT_EQ(answer.statusLine, "HTTP/1.1 200 OK");
  EXPECT_TRUE(answer.MustClose());
  EXPECT_FALSE(answer.peerClosed);
}

TEST(RetryAfterOf, SecondsOrAnHttpDate) {
  // Sun, 06 Nov 1994 08:49:37 GMT
  const auto now = std::chrono::system_clock::from_time_t(784111777);
  const std::pair<const char*, std::optional<long>> cases[] = {
      {"Retry-After: 120", 120},
      {"retry-after:  0 ", 0},
      {"Retry-After: 99999999999999999999", 2147483647},
      {"Retry-After: Sun, 06 Nov 1994 08:50:37 GMT", 60},
      {"Retry-After: Sunday, 06-Nov-94 08:51:37 GMT", 120},
      {"Retry-After: Sun Nov  6 08:49:40 1994", 3},
      {"Retry-After: Sun, 06 Nov 1994 08:00:00 GMT", 0},  // already past
      {"Retry-After: -5", std::nullopt},
      {"Retry-After: 1.5", std::nullopt},
      {"Retry-After: Sun, 06 Foo 1994 08:50:37 GMT", std::nullopt},
      {"Retry-After: soon", std::nullopt},
      {"Retry-After:", std::nullopt},
      {"X-Other: 5", std::nullopt},
  };
  for (const auto& [header, seconds] : cases) {
    registry::HttpAnswer answer;
    answer.headers = {"Content-Length: 0", header};
    const std::optional<std::chrono::seconds> wait = registry::RetryAfterOf(answer, now);
    EXPECT_EQ(wait ? std::optional<long>(static_cast<long>(wait->count())) : std::nullopt, seconds) << header;
  }
}

TEST(HttpAnswerReader, LimitsOnLinesHeadersAndBody) {
  const std::string longest(16384 - 9, 'a');  // with "X-Long: " and the CR exactly 16384 bytes
  EXPECT_EQ(Outcome("HTTP/1.1 200 OK\r\nX-Long: " + longest + "\r\nContent-Length: 2\r\n\r\nok"), "ok");
  EXPECT_EQ(Outcome("HTTP/1.1 200 OK\r\nX-Long: " + longest + "a\r\n\r\n"), "error: Max line length exceeded.");
  EXPECT_EQ(Outcome("HTTP/1.1 200 OK\r\nX-Long: " + longest + "aa"), "error: Max line length exceeded.");
  EXPECT_EQ(Outcome("HTTP/1.1 200 OK\r\nTransfer-Encoding: chunked\r\n\r\n" + std::string(20000, '0')),
            "error: Max line length exceeded.");

  std::string headers;
  for (int i = 0; i < 1000; ++i) headers += "X-H: " + std::to_string(i) + "\r\n";
  EXPECT_EQ(Outcome("HTTP/1.1 200 OK\r\n" + headers + "\r\nbody"), "body");
  EXPECT_EQ(Outcome("HTTP/1.1 200 OK\r\n" + headers + "X-One-Too-Many: 1\r\n\r\n"),
            "error: Max header line count exceeded.");
  // Interim heads count towards the same bound, so endless 1xx heads end.
  std::string interim;
  for (int i = 0; i < 1001; ++i) interim += "HTTP/1.1 100 Continue\r\nX: y\r\n\r\n";
  EXPECT_EQ(Outcome(interim), "error: Max header line count exceeded.");

  registry::ResponseLimits small;
  small.maxBodyBytes = 10;
  EXPECT_EQ(Outcome("HTTP/1.1 200 OK\r\n\r\n0123456789", false, small), "0123456789");
  EXPECT_EQ(Outcome("HTTP/1.1 200 OK\r\n\r\n0123456789A", false, small), "error: Max body size exceeded.");
  EXPECT_EQ(Outcome("HTTP/1.1 200 OK\r\nContent-Length: 11\r\n\r\n0123456789A", false, small),
            "error: Max body size exceeded.");
  EXPECT_EQ(Outcome("HTTP/1.1 200 OK\r\nTransfer-Encoding: chunked\r\n\r\n6\r\n012345\r\n6\r\n6789AB\r\n0\r\n\r\n",
                    false, small),
            "error: Max body size exceeded.");
  EXPECT_EQ(Outcome("HTTP/1.1 404 Not Found\r\n\r\n0123456789ABCDEF", false, small), "error: HTTP/1.1 404 Not Found");
}

TEST(HttpAnswerReader, BodyDecodedByCharset) {
  struct CharsetCase {
    const char* contentType;
    std::string body;
    std::string expected;
  };
  const std::string aGrave = "\xC3\xA0";  // "à" in UTF-8
  const CharsetCase cases[] = {
      {"application/json; charset=utf-8", aGrave, aGrave},
      {"application/json", aGrave, aGrave},
      {"application/problem+json", aGrave, aGrave},
      {"text/plain", aGrave, "\xC3\x83\xC2\xA0"},
      {"text/html; charset=\"UTF8\"", aGrave, aGrave},
      {"text/xml", aGrave, "\xEF\xBF\xBD\xEF\xBF\xBD"},
      {"text/vnd.example+xml", "a\xE0", "a\xEF\xBF\xBD"},
      {"application/octet-stream", aGrave, "\xC3\x83\xC2\xA0"},
      {"application/json; charset=no-such-set", aGrave, "\xC3\x83\xC2\xA0"},
      {"text/plain; charset=windows-1252", "\x80", "\xE2\x82\xAC"},
      {"text/plain; charset=UTF-16LE", std::string("h\0\xE0\0", 4), "h" + aGrave},
      {"text/plain; charset=utf-16", std::string("\xFF\xFEh\0", 4), "h"},
      {"text/plain; charset=utf-16be", std::string("\xD8\x3D\xDE\x00", 4), "\xF0\x9F\x98\x80"},
      {"text/plain; charset=UTF32BE", std::string("\0\0\0h", 4), "h"},
      {"text/plain; charset=utf-7", "Hi+AOA- 1+-1", "Hi" + aGrave + " 1+1"},
  };
  for (const CharsetCase& c : cases) {
    const std::string answer = "HTTP/1.1 200 OK\r\nContent-Type: " + std::string(c.contentType) +
                               "\r\nContent-Length: " + std::to_string(c.body.size()) + "\r\n\r\n" + c.body;
    EXPECT_EQ(Outcome(answer), c.expected) << c.contentType;
  }
  // Without a Content-Type every byte is the character of its number.
  EXPECT_EQ(Outcome("HTTP/1.1 200 OK\r\n\r\n" + aGrave), "\xC3\x83\xC2\xA0");
}

}  // namespace
}  // namespace korvane
