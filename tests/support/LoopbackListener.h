#pragma once

namespace korvane::testing {

// A TCP socket listening on 127.0.0.1 at an ephemeral port (close-on-exec), and that port in
// `port`. Throws std::runtime_error when none can be had.
int ListenOnLoopback(int backlog, int& port);

}  // namespace korvane::testing
