#include "registry/Uri.h"

#include <algorithm>

namespace korvane {

std::string Uri::RequestTarget() const {
  std::string target = path + document;
  if (hasQuery) target += "?" + params;
  return target;
}

Uri registry::ParseUri(const std::string& url) {
  Uri uri;
  std::string rest = url;
  const std::size_t schemeEnd = rest.find("://");
  if (schemeEnd != std::string::npos) {
    uri.protocol = rest.substr(0, schemeEnd);
    rest.erase(0, schemeEnd + 3);
  }
  // Backslashes before the query or fragment are path separators.
  const std::size_t stop = std::min(rest.find('?'), rest.find('#'));
  std::replace(rest.begin(), rest.begin() + static_cast<std::ptrdiff_t>(std::min(stop, rest.size())), '\\', '/');

  const std::size_t question = rest.find('?');
  const std::size_t hash = rest.find('#');
  uri.hasFragment = hash != std::string::npos;
  if (question != std::string::npos && question < hash) {
    uri.hasQuery = true;
    uri.params = rest.substr(question + 1, hash == std::string::npos ? std::string::npos : hash - question - 1);
    rest.erase(question);
  } else if (hash != std::string::npos) {
    rest.erase(hash);
  }

  const std::size_t slash = rest.find('/');
  std::string authority = rest.substr(0, slash);
  rest = slash == std::string::npos ? std::string() : rest.substr(slash + 1);

  const std::size_t at = authority.rfind('@');
  if (at != std::string::npos) {
    uri.userInfo = authority.substr(0, at);
    authority.erase(0, at + 1);
  }
  if (!authority.empty() && authority[0] == '[') {
    const std::size_t close = authority.find(']');
    uri.ipv6 = true;
    uri.host = authority.substr(1, close == std::string::npos ? std::string::npos : close - 1);
    if (close != std::string::npos && close + 1 < authority.size() && authority[close + 1] == ':') {
      uri.port = authority.substr(close + 2);
    }
  } else {
    const std::size_t colon = authority.find(':');
    uri.host = authority.substr(0, colon);
    if (colon != std::string::npos) uri.port = authority.substr(colon + 1);
  }

  const std::size_t lastSlash = rest.rfind('/');
  uri.path.assign(1, '/');
  if (lastSlash == std::string::npos) {
    uri.document = rest;
  } else {
    uri.path.append(rest, 0, lastSlash + 1);
    uri.document = rest.substr(lastSlash + 1);
  }
  return uri;
}

}  // namespace korvane
