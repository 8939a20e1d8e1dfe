#include "platform/SocketErrors.h"

#include <gtest/gtest.h>
#include <netdb.h>

#include <cerrno>

namespace korvane::platform {
namespace {

TEST(SocketErrors, PlatformErrorsBecomeWindowsSocketsMessages) {
  struct Case {
    int number;
    const char* message;
  };
  const Case cases[] = {
      {WsaErrorFromErrno(ECONNREFUSED), "Socket Error # 10061\r\nConnection refused."},
      {WsaErrorFromErrno(ETIMEDOUT), "Socket Error # 10060\r\nConnection timed out."},
      {WsaErrorFromErrno(EAGAIN), "Socket Error # 10060\r\nConnection timed out."},
      {WsaErrorFromErrno(ECONNRESET), "Socket Error # 10054\r\nConnection reset by peer."},
      {WsaErrorFromErrno(ENETUNREACH), "Socket Error # 10051\r\nNetwork is unreachable."},
      {WsaErrorFromErrno(EHOSTUNREACH), "Socket Error # 10065\r\nNo route to host."},
      {WsaErrorFromErrno(EPIPE), "Socket Error # 10058\r\nCannot send or receive after socket is closed."},
      {WsaErrorFromLookup(EAI_NONAME, 0), "Socket Error # 11001\r\nHost not found."},
      // Numbers without a text: the one line alone, no empty line after it.
      {WsaErrorFromLookup(EAI_AGAIN, 0), "Socket Error # 11002"},
      {WsaErrorFromLookup(EAI_FAIL, 0), "Socket Error # 11003"},
      {WsaErrorFromLookup(EAI_SYSTEM, ECONNREFUSED), "Socket Error # 10061\r\nConnection refused."},
      {10066, "Socket Error # 10066\r\nDirectory not empty"},
  };
  for (const Case& c : cases) EXPECT_EQ(SocketErrorMessage(c.number), c.message);
  EXPECT_EQ(SocketError(10054).Number(), 10054);
  EXPECT_EQ(SocketError(10054).Message(), "Socket Error # 10054\r\nConnection reset by peer.");
}

}  // namespace
}  // namespace korvane::platform
