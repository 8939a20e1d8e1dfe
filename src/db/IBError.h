#pragma once

#include <string>

#include "platform/Exception.h"

namespace korvane {

// Every failure of the database layer. SQLCode is the server's SQL code for a failure reported
// by the client library, or the layer's own message number for a check of the layer itself.
// Whether the connection went away under the call is decided once, when the layer builds the
// error from what the client library reported, and carried here: the layer and its callers ask
// the error, never the codes.
class EIBError : public Exception {
 public:
  EIBError(std::string message, int sqlCode, int ibErrorCode, bool connectionLost = false, bool noAnswer = false)
      : Exception(std::move(message)),
        sqlCode_(sqlCode),
        ibErrorCode_(ibErrorCode),
        connectionLost_(connectionLost),
        noAnswer_(noAnswer) {}

  int SQLCode() const noexcept { return sqlCode_; }
  int IBErrorCode() const noexcept { return ibErrorCode_; }
  // The connection went away under the call (the network dropped, the server stopped or
  // restarted): what the call did on the server is not known from here, and the connection must
  // be opened again before anything else.
  bool ConnectionLost() const noexcept { return connectionLost_; }
  // The database did not answer the call within its bound (db/CallBound.h) and the call was
  // given up; the message is "Il database non risponde (<what>)". When the connection was closed
  // on this side for it, ConnectionLost() is true as well.
  bool NoAnswer() const noexcept { return noAnswer_; }

 private:
  int sqlCode_;
  int ibErrorCode_;
  bool connectionLost_;
  bool noAnswer_;
};

// A failure reported by the client library through its status vector.
class EIBInterBaseError : public EIBError {
 public:
  using EIBError::EIBError;
};

// The same, for SQL code -551 (no permission).
class EIBInterBaseRoleError : public EIBInterBaseError {
 public:
  using EIBInterBaseError::EIBInterBaseError;
};

// A check of the layer itself failed; SQLCode is the number of the layer's message.
class EIBClientError : public EIBError {
 public:
  EIBClientError(int entry, std::string message) : EIBError(std::move(message), entry, 0) {}
};

}  // namespace korvane

namespace korvane::db {

// The engine refused a row because its key is taken: by a committed row, or by a concurrent
// transaction (which it may report as a lock or update conflict or a deadlock).
bool KeyTaken(const Exception& error);

// Another active transaction holds the row a lock was asked for (the engine reports it as a
// lock or update conflict, a deadlock or a concurrent transaction): asking again may succeed.
bool LockHeldElsewhere(const Exception& error);

// `error` is a database error whose connection went away under the call (EIBError::ConnectionLost).
bool ConnectionLost(const Exception& error);

// `error` is a database error of a call given up for want of an answer (EIBError::NoAnswer).
bool NoAnswer(const Exception& error);

}  // namespace korvane::db
