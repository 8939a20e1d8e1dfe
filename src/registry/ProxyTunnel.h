#pragma once

#include <string>

#include "registry/Deadline.h"
#include "registry/RegistryEndpoint.h"

namespace korvane::registry {

// The request that asks the proxy for a tunnel to `authority` ("host:port"): the CONNECT line,
// Host, and Proxy-Authorization (Basic) when the proxy has credentials. Nothing else of the
// registry's request goes to the proxy.
std::string BuildConnectRequest(const std::string& authority, const Proxy& proxy);

// Sends the connect request on the connected `socket` (non-blocking) and reads the proxy's answer
// head, bounded like the registry's; returns once a 2xx answer has opened the tunnel, with
// nothing of the tunnel's traffic read. Any other answer raises its status line as the message
// (made fit for a message like any server text). Waits within `stepLimitMs` and the deadline;
// raises like the registry's reader ("Read timed out.", "Connection Closed Gracefully.", socket
// errors), and WaitCancelled when `wakeFd` becomes readable.
void OpenProxyTunnel(int socket, const Proxy& proxy, const std::string& authority, const Deadline& deadline,
                     int stepLimitMs, int wakeFd = -1);

}  // namespace korvane::registry
