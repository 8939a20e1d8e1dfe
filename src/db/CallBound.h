#pragma once

// Every call of the layer that waits for a database (attach, detach, prepare, execute, fetch,
// commit, rollback, info) is bounded. One that has not answered in time is given up: the client
// library is asked to cancel it and, when that brings no answer either within a short grace, to
// close the connection on this side (which needs nothing from the network). An attach, which has
// no connection yet to cancel, is left to a thread of its own. Either way the call raises an
// EIBError whose NoAnswer() is true, with the message "Il database non risponde (<what>)".

#include <chrono>
#include <optional>
#include <string>

namespace korvane::db {

inline constexpr std::chrono::seconds kDefaultCallTimeout{30};

// How long a cancelled call is given to answer before its connection is closed on this side.
inline constexpr std::chrono::milliseconds kAbortGrace{1000};

// The bound of each call, for the whole process (kDefaultCallTimeout until set). A call in a
// transaction that waits for locks gets that transaction's lock timeout on top: the engine
// answers by itself when that runs out.
void SetCallTimeout(std::chrono::milliseconds timeout) noexcept;
std::chrono::milliseconds CallTimeout() noexcept;

// While one exists, every call of the calling thread ends by `deadline` at the latest (given up
// at it), on top of the bound of each call: a sequence of calls bounded as a whole. Scopes nest;
// the earliest deadline holds.
class CallDeadline {
 public:
  explicit CallDeadline(std::chrono::steady_clock::time_point deadline) noexcept;
  ~CallDeadline();
  CallDeadline(const CallDeadline&) = delete;
  CallDeadline& operator=(const CallDeadline&) = delete;

 private:
  std::optional<std::chrono::steady_clock::time_point> outer_;
};

// While one exists, a call of the calling thread that is given up says what was being done in
// its message: "Il database non risponde (<what>)". Without one the message names the call
// ("attach", "execute", ...). Scopes nest; the innermost holds.
class CallPurpose {
 public:
  explicit CallPurpose(std::string what);
  ~CallPurpose();
  CallPurpose(const CallPurpose&) = delete;
  CallPurpose& operator=(const CallPurpose&) = delete;

 private:
  std::string what_;
  const CallPurpose* outer_;
  friend std::string NoAnswerMessage(const char* call);
};

// "Il database non risponde (<what>)": the innermost purpose of the calling thread, else `call`.
std::string NoAnswerMessage(const char* call);

// True once an attach was left to its thread: the process then ends without the client
// library's exit handlers, which would wait for that thread's call.
bool CallsLeftBehind() noexcept;

}  // namespace korvane::db
