#pragma once

#include <optional>
#include <string>
#include <vector>

#include "registry/HttpResponse.h"
#include "registry/IdSSLOpenSSL.h"
#include "registry/Uri.h"

namespace korvane::registry {

// What the next GET sends besides its target: the fields the registry request sets, and no
// others (a Clear empties the rest of a request, which this client never sends). The client
// sends GET only, and makes no Authorization header from a user name and password: the bearer
// token travels in CustomHeaders.
class HttpRequest {
 public:
  HttpRequest();

  std::string Accept;
  std::string UserAgent;
  // Extra header lines, sent as they stand, before the request lines.
  std::vector<std::string> CustomHeaders;

  // Back to the defaults; CustomHeaders stay as they are.
  void Clear();
};

}  // namespace korvane::registry

namespace korvane {

// An HTTPS client for one GET at a time over the attached TLS handler, which it does not own:
// the handler must outlive the client.
class TIdHTTP {
 public:
  TIdHTTP() = default;
  ~TIdHTTP();
  TIdHTTP(const TIdHTTP&) = delete;
  TIdHTTP& operator=(const TIdHTTP&) = delete;

  registry::HttpRequest Request;
  TIdSSLIOHandlerSocketOpenSSL* IOHandler = nullptr;
  // The status code of the last request's answer; 0 when none has arrived (set back at the start
  // of each request, so that a request that fails to connect never shows an earlier status).
  int ResponseCode = 0;
  // True once the last request's bytes began to leave; false when it failed before that.
  bool RequestSent = false;
  // What arrived of the last request's answer, also when its status was a failure; empty when
  // nothing did.
  registry::HttpAnswer LastAnswer;

  // Sends GET for the URL and returns the body of a 2xx answer as UTF-8 text; any other
  // status, and any failure of the connection, raises korvane::Exception.
  std::string Get(const std::string& url);
};

}  // namespace korvane

namespace korvane::registry {

// The head of a GET as it goes on the wire: the request line, the header lines, CR LF after
// each and an empty line; every character above 127 becomes "?".
std::string BuildRequestHead(const HttpRequest& request, const std::string& url);

// Where a GET of the URL connects to; nothing when the client would refuse the URL (not https,
// a port that is no port).
std::optional<ChannelTarget> ChannelTargetOf(const std::string& url);
std::optional<ChannelTarget> ChannelTargetOf(const Uri& address);

}  // namespace korvane::registry
