#pragma once

// Internal to the db layer: the watchdog that gives up a call on a connection that has not
// answered by its deadline (db/CallBound.h), and the attach that waits in a thread of its own.

#include <chrono>
#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "db/ClientLibrary.h"

namespace korvane::db {

// One call on a connection, watched while the object exists: made after it is constructed and
// answered before it is destroyed. At the deadline (the process's bound plus `extra`, or the
// calling thread's CallDeadline when earlier) the watchdog asks the client library to cancel the
// call; kAbortGrace later, still without an answer, it closes the connection on this side, which
// makes the call return with a network error.
class WatchedCall {
 public:
  // `database` is the connection's handle (its value is read now); `call` names the call for a
  // message without a purpose.
  WatchedCall(const std::uint32_t* database, const char* call,
              std::chrono::milliseconds extra = std::chrono::milliseconds::zero());
  ~WatchedCall();
  WatchedCall(const WatchedCall&) = delete;
  WatchedCall& operator=(const WatchedCall&) = delete;

  // The watchdog gave the call up (asked the library to cancel it).
  bool GaveUp() const noexcept;
  // It also closed the connection on this side.
  bool Aborted() const noexcept;
  // The watchdog had closed the connection on this side before this call started, under an
  // earlier call whose failure went unreported (the release of a statement, a quiet rollback).
  bool ClosedBefore() const noexcept { return closedBefore_; }
  // "Il database non risponde (<what>)", with the purpose in force when the call started.
  const std::string& NoAnswerText() const noexcept { return noAnswerText_; }

  struct Watch;

 private:
  std::shared_ptr<Watch> watch_;
  std::string noAnswerText_;
  bool closedBefore_ = false;
};

// The error of a failed call, read as DatabaseErrorOf reads it, and marked as not answering when
// the watchdog gave the call up, or had closed its connection before: then its message is the
// watch's, and a call whose connection was closed on this side counts as a lost connection.
DatabaseError DatabaseErrorOf(const ISC_STATUS* status, const WatchedCall& call,
                              StatusLines lines = StatusLines::DatabaseCodePage);

// What an attach in its own thread gave: the handle, or the error of the library.
struct AttachResult {
  std::uint32_t handle = 0;
  std::optional<DatabaseError> error;
};

// Attaches `name` with `dpb` in a thread of its own and waits for it until the call's deadline
// (as for a WatchedCall). Nothing when the deadline passes first: the thread is left to end by
// itself, and detaches what it gets after that.
std::optional<AttachResult> AttachWithin(const std::string& name, const std::vector<std::uint8_t>& dpb);

}  // namespace korvane::db
