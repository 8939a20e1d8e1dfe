#pragma once

#include <memory>
#include <thread>

#include "registry/ChannelSettings.h"

namespace korvane::registry {

struct TlsConnection;

// The registry's connection made ready ahead of its request: resolving, connecting (through the
// proxy's tunnel when there is one), the TLS handshake and the server's verification run in a
// thread of their own while the run does its other work. The request, the only paid part, goes
// out only when the run hands the channel to the client; a channel given up before that sends
// the close alert and no request byte.
class PreparedChannel {
 public:
  // Starts the preparation. Nothing (no error) when no thread can be had: the client then opens
  // its connection itself, and reports what goes wrong there.
  static std::unique_ptr<PreparedChannel> Start(const ChannelTarget& target, const ChannelSettings& settings) noexcept;

  // Gives the preparation up without waiting for the network or the name lookup: its waits are
  // woken, and only a step inside the TLS library that is already running (milliseconds of
  // computation) is waited for, two seconds at the most and never past the exchange's end. A
  // connection already open is closed with the close alert.
  ~PreparedChannel();
  PreparedChannel(const PreparedChannel&) = delete;
  PreparedChannel& operator=(const PreparedChannel&) = delete;

  // True when the channel goes where a request for `target` must go.
  bool Serves(const ChannelTarget& target) const { return target == target_; }

  // Waits for the preparation to end and hands its connection over, or raises its failure with
  // the channel's own message; a preparation still running at the exchange's end raises the
  // exchange's time-out. Once only. The exchange's time limit counts the time the channel spent
  // preparing, not the time it then waited for the request.
  std::unique_ptr<TlsConnection> Take();

 private:
  struct Shared;
  PreparedChannel(ChannelTarget target, std::shared_ptr<Shared> shared, std::thread thread);

  ChannelTarget target_;
  std::shared_ptr<Shared> shared_;
  // Joined when it has let go within the teardown wait, so that nothing of it outlives the run;
  // else left to end by itself.
  std::thread thread_;
};

}  // namespace korvane::registry
