#include "registry/IdHTTP.h"

#include <optional>
#include <utility>

#include "platform/Convert.h"
#include "platform/Exception.h"
#include "platform/Text.h"
#include "platform/Trace.h"
#include "platform/Utf8.h"
#include "registry/HttpResponse.h"
#include "registry/IdSSLOpenSSL.h"
#include "registry/RegistryEndpoint.h"
#include "registry/Uri.h"

namespace korvane {

namespace {

constexpr const char* kDefaultAccept = "text/html, */*";
constexpr const char* kDefaultUserAgent = "Mozilla/3.0 (compatible; korvane)";

// Wire text is 7-bit: every character above 127 goes out as "?" (two for a character that
// needs a surrogate pair, as a UTF-16 text would send it).
std::string AsciiWireText(std::string_view utf8) {
  std::string out;
  out.reserve(utf8.size());
  for (char32_t c : platform::DecodeUtf8(utf8)) {
    if (c < 128) {
      out.push_back(static_cast<char>(c));
    } else {
      out.append(c > 0xFFFF ? "??" : "?");
    }
  }
  return out;
}

std::string_view HeaderName(std::string_view line) { return line.substr(0, line.find(':')); }

// Appends "Name: value" when the value is not empty; a line of the same name already in the
// list is replaced where it stands.
void SetHeader(std::vector<std::string>& lines, std::string_view name, const std::string& value) {
  if (value.empty()) return;
  std::string line = std::string(name) + ": " + value;
  for (std::string& existing : lines) {
    if (existing.find(':') != std::string::npos && platform::SameTextAscii(HeaderName(existing), name)) {
      existing = std::move(line);
      return;
    }
  }
  lines.push_back(std::move(line));
}

struct Target {
  Uri uri;
  int port = 443;
  std::string hostHeader;
};

Target ResolveTarget(const Uri& uri) {
  Target target;
  target.uri = uri;
  if (!platform::SameTextAscii(target.uri.protocol, "https")) {
    // The client only speaks TLS: a bearer token never goes out in clear text.
    throw Exception("Unknown Protocol: " + target.uri.protocol);
  }
  if (!target.uri.port.empty()) {
    const std::optional<std::int32_t> port = platform::StrToInt32(target.uri.port);
    if (!port || *port < 1 || *port > 65535) throw Exception("Invalid Port: " + target.uri.port);
    target.port = *port;
  }
  const std::string host = target.uri.ipv6 ? "[" + target.uri.host + "]" : target.uri.host;
  target.hostHeader = target.port == 443 ? host : host + ":" + std::to_string(target.port);
  return target;
}

std::string BuildHead(const registry::HttpRequest& request, const Target& target) {
  std::vector<std::string> lines;
  for (const std::string& custom : request.CustomHeaders) lines.push_back(custom);
  SetHeader(lines, "Host", target.hostHeader);
  SetHeader(lines, "Accept", request.Accept);
  SetHeader(lines, "User-Agent", request.UserAgent);

  std::string head = "GET " + target.uri.RequestTarget() + " HTTP/1.1\r\n";
  for (const std::string& line : lines) {
    if (line.empty()) continue;
    head += line;
    head += "\r\n";
  }
  head += "\r\n";
  return AsciiWireText(head);
}

// The request head as the trace shows it: its lines joined, the bearer token never.
void TraceRequest(std::string_view head) {
  std::string shown;
  while (!head.empty()) {
    const std::size_t end = head.find("\r\n");
    std::string_view line = head.substr(0, end);
    head.remove_prefix(end == std::string_view::npos ? head.size() : end + 2);
    if (line.empty()) continue;
    if (platform::SameTextAscii(HeaderName(line), "Authorization")) {
      // The scheme ("Bearer") may be shown, the credentials after it never.
      const std::string_view value = platform::TrimBlanksAndTabs(line.substr(line.find(':') + 1));
      const std::size_t blank = value.find(' ');
      line = blank == std::string_view::npos ? std::string_view() : value.substr(0, blank);
      shown += (shown.empty() ? "" : " | ") + std::string("Authorization: ") + std::string(line) +
               (line.empty() ? "***" : " ***");
      continue;
    }
    // The request line's query may hold a key.
    shown += shown.empty() ? registry::WithoutQuery(line) : " | " + std::string(line);
  }
  platform::trace::Step("request: " + shown);
}

}  // namespace

registry::HttpRequest::HttpRequest() { Clear(); }

std::optional<registry::ChannelTarget> registry::ChannelTargetOf(const std::string& url) {
  return ChannelTargetOf(ParseUri(url));
}

std::optional<registry::ChannelTarget> registry::ChannelTargetOf(const Uri& address) {
  try {
    const Target target = ResolveTarget(address);
    return ChannelTarget{target.uri.host, target.port, target.uri.ipv6};
  } catch (const Exception&) {
    return std::nullopt;
  }
}

void registry::HttpRequest::Clear() {
  Accept = kDefaultAccept;
  UserAgent = kDefaultUserAgent;
}

std::string registry::BuildRequestHead(const HttpRequest& request, const std::string& url) {
  return BuildHead(request, ResolveTarget(registry::ParseUri(url)));
}

TIdHTTP::~TIdHTTP() {
  if (IOHandler != nullptr) IOHandler->Close();
}

std::string TIdHTTP::Get(const std::string& url) {
  ResponseCode = 0;
  RequestSent = false;
  LastAnswer = {};
  if (IOHandler == nullptr) throw Exception("No TLS handler is attached to the HTTP client.");
  const Target target = ResolveTarget(registry::ParseUri(url));
  const std::string head = BuildHead(Request, target);

  // A connection the last answer left open to the same place is used again.
  IOHandler->Open(target.uri.host, target.port, target.uri.ipv6);
  registry::HttpAnswerReader reader(*IOHandler);
  std::string body;
  if (platform::trace::On()) TraceRequest(head);
  try {
    RequestSent = true;
    IOHandler->Write(head);
    body = reader.ReadAnswer();
    ResponseCode = registry::StatusCodeOf(reader.Answer().statusLine);
  } catch (...) {
    LastAnswer = reader.Answer();
    if (!reader.Answer().statusLine.empty()) ResponseCode = registry::StatusCodeOf(reader.Answer().statusLine);
    platform::trace::Step("answer: " + (reader.Answer().statusLine.empty() ? "none" : reader.Answer().statusLine));
    IOHandler->Close();
    throw;
  }
  LastAnswer = reader.Answer();
  platform::trace::Step("answer: " + reader.Answer().statusLine + ", " + std::to_string(body.size()) +
                        " bytes of body");
  // Kept only where HTTP/1.1 keeps it by default; an older server may close it at any moment.
  if (reader.Answer().MustClose() || !reader.Answer().statusLine.starts_with("HTTP/1.1 ")) IOHandler->Close();
  return body;
}

}  // namespace korvane
