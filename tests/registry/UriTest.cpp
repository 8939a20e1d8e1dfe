#include "registry/Uri.h"

#include <gtest/gtest.h>

#include "platform/Exception.h"
#include "registry/IdHTTP.h"

namespace korvane {
namespace {

TEST(ParseUri, SplitsWithoutPercentCoding) {
  struct Case {
    const char* url;
    const char* host;
    const char* port;
    const char* target;
  };
  const Case cases[] = {
      {"https://imprese.example/base/01234567890", "imprese.example", "", "/base/01234567890"},
      {"https://h:8443/base/12#34?x", "h", "8443", "/base/12"},
      {"https://h/base/12\\34?a\\b#frag", "h", "", "/base/12/34?a\\b"},
      {"https://h/base/12 34%20", "h", "", "/base/12 34%20"},
      {"https://user:pw@h:1/", "h", "1", "/"},
      {"https://h", "h", "", "/"},
      {"https://[::1]:99/x/y", "::1", "99", "/x/y"},
      {"https://h/a?q=1#f", "h", "", "/a?q=1"},
  };
  for (const Case& c : cases) {
    const Uri uri = registry::ParseUri(c.url);
    EXPECT_EQ(uri.host, c.host) << c.url;
    EXPECT_EQ(uri.port, c.port) << c.url;
    EXPECT_EQ(uri.RequestTarget(), c.target) << c.url;
  }
}

TEST(BuildRequestHead, OrderReplacementHostAndAscii) {
  registry::HttpRequest request;
  request.CustomHeaders = {"accept: text/plain", "X-Token: caf\xC3\xA9 \xF0\x9F\x98\x80", "", "user-agent: old"};
  request.Accept = "application/json";
  request.UserAgent = "agent";
  EXPECT_EQ(registry::BuildRequestHead(request, "https://h:443/p"),
            "GET /p HTTP/1.1\r\nAccept: application/json\r\nX-Token: caf? ??\r\nUser-Agent: agent\r\n"
            "Host: h\r\n\r\n");
  EXPECT_NE(registry::BuildRequestHead(request, "https://[::1]:8443/").find("Host: [::1]:8443\r\n"), std::string::npos);
  EXPECT_THROW(registry::BuildRequestHead(request, "http://h/"), Exception);
  EXPECT_THROW(registry::BuildRequestHead(request, "https://h:99999/"), Exception);
}

}  // namespace
}  // namespace korvane
