#pragma once

#include <string>

namespace korvane {

// A URL taken apart without any percent coding.
struct Uri {
  std::string protocol;  // text before "://"
  std::string userInfo;
  std::string host;  // without the brackets of an IPv6 address
  bool ipv6 = false;
  std::string port;  // as written; empty when none is
  std::string path;  // "/" up to and including the last "/"
  std::string document;
  std::string params;  // the query, without "?"
  bool hasQuery = false;
  bool hasFragment = false;  // the fragment itself is dropped

  // Path, document and, when there was a query, "?" and the query.
  std::string RequestTarget() const;
};

}  // namespace korvane

namespace korvane::registry {

Uri ParseUri(const std::string& url);

}  // namespace korvane::registry
