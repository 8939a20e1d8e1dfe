#pragma once

// Internal to the db layer: the client library's entry points, resolved once per process, and
// the one place where a status vector becomes an error.

#include <ibase.h>

#include <string>
#include <vector>

#include "db/IBError.h"
#include "db/StatusCodes.h"

namespace korvane::db {

struct ClientApi {
  decltype(&::isc_attach_database) attach_database;
  decltype(&::isc_database_info) database_info;
  decltype(&::isc_detach_database) detach_database;
  decltype(&::isc_start_multiple) start_multiple;
  decltype(&::isc_commit_transaction) commit_transaction;
  decltype(&::isc_rollback_transaction) rollback_transaction;
  decltype(&::isc_transaction_info) transaction_info;
  // Not isc_dsql_alloc_statement2: that one keeps the address of the caller's handle and writes
  // zero there when the connection is detached, and a statement whose drop failed on a broken
  // connection may be gone by then (a local of a finished function): the write lands in freed
  // memory. The layer drops every statement handle itself when its connection closes.
  decltype(&::isc_dsql_allocate_statement) dsql_allocate_statement;
  decltype(&::isc_dsql_prepare) dsql_prepare;
  decltype(&::isc_dsql_sql_info) dsql_sql_info;
  decltype(&::isc_dsql_describe_bind) dsql_describe_bind;
  decltype(&::isc_dsql_describe) dsql_describe;
  decltype(&::isc_dsql_execute) dsql_execute;
  decltype(&::isc_dsql_execute2) dsql_execute2;
  decltype(&::isc_dsql_fetch) dsql_fetch;
  decltype(&::isc_dsql_free_statement) dsql_free_statement;
  decltype(&::isc_sqlcode) sqlcode;
  decltype(&::fb_interpret) interpret;
  decltype(&::isc_vax_integer) vax_integer;
  decltype(&::isc_portable_integer) portable_integer;
  // Called by the watchdog's thread while the run's thread waits in another call.
  decltype(&::fb_cancel_operation) cancel_operation;
};

// The library name of the layer's entry 1.
inline constexpr const char* kClientLibraryName = "libfbclient.so.2";

// Loads the library and resolves its entry points at the first call; fails with entry 1 when
// the library cannot be loaded, or with the loader's text for a missing entry point.
const ClientApi& LoadClientLibrary();
// The loaded library; only valid after a successful LoadClientLibrary.
const ClientApi& Api();
bool ClientLibraryLoaded();

// How the library's lines are read. Text from inside the databases is in their code page; an
// attach's failure names what the attach was given, the file name and the login, which go out as
// UTF-8: its lines are read as UTF-8 where they are valid UTF-8, else in the databases' code page.
enum class StatusLines { DatabaseCodePage, AttachNames };

// Every call returns the first error code of its status vector: non-zero means it failed.
// What a failed call's status vector says, read once: the text, the two numbers and every error
// code it holds. DatabaseErrorOf is the one place that reads a status vector's elements; the
// caller decides what to clean up before it raises the error.
class DatabaseError {
 public:
  int SQLCode() const { return sqlCode_; }
  // The first error code of the vector (its second element).
  ISC_STATUS FirstCode() const { return firstCode_; }
  bool Holds(ISC_STATUS code) const;
  // The connection went away under the call: one of kLostConnectionCodes anywhere in the vector.
  // The one rule of the layer, decided here and carried on the raised error.
  bool LostConnection() const { return lostConnection_; }
  // The watchdog gave the call up (db/Watchdog.h).
  bool NoAnswer() const { return noAnswer_; }
  // Marks the error as that of a call given up: `message` replaces the library's text, and a
  // connection closed on this side for it counts as lost.
  void GiveUp(std::string message, bool connectionClosed);
  // EIBInterBaseRoleError for SQL code -551, else EIBInterBaseError.
  [[noreturn]] void Raise() const;

 private:
  friend DatabaseError DatabaseErrorOf(const ISC_STATUS* status, StatusLines lines);

  std::string message_;
  int sqlCode_ = 0;
  ISC_STATUS firstCode_ = 0;
  std::vector<ISC_STATUS> codes_;
  bool lostConnection_ = false;
  bool noAnswer_ = false;
};

DatabaseError DatabaseErrorOf(const ISC_STATUS* status, StatusLines lines = StatusLines::DatabaseCodePage);
[[noreturn]] inline void RaiseDatabaseError(const ISC_STATUS* status,
                                            StatusLines lines = StatusLines::DatabaseCodePage) {
  DatabaseErrorOf(status, lines).Raise();
}

// The text of every line the library interprets from the status vector, joined by CR LF,
// one final full stop removed. A line break of the library's own message texts is CR LF too;
// every other control character, and any in what it places into them (a file name, a stored
// value), is shown as "?".
std::string StatusText(const ISC_STATUS* status, StatusLines lines = StatusLines::DatabaseCodePage);

// The layer's own messages, by entry number.
enum ClientEntry {
  kUnknownError = 0,
  kLibraryNotFound = 1,
  kNotPermitted = 5,
  kDatabaseClosed = 15,
  kDatabaseOpen = 16,
  kDatabaseNameMissing = 17,
  kNotInTransaction = 18,
  kInTransaction = 19,
  kNoDatabasesInTransaction = 21,
  kDatabaseNotAssigned = 24,
  kTransactionNotAssigned = 25,
  kSQLOpen = 31,
  kSQLClosed = 32,
  kInvalidDataConversion = 38,
  kEmptyQuery = 42,
  kFieldNotFound = 46,
  kSQLParseError = 55,
  kDPBConstantUnknown = 114,
  kTPBConstantUnknown = 115,
  kStringTooLarge = 119,
};

[[noreturn]] void RaiseClientError(ClientEntry entry);
[[noreturn]] void RaiseClientError(ClientEntry entry, const std::string& text);
[[noreturn]] void RaiseClientError(ClientEntry entry, long long a, long long b);

}  // namespace korvane::db
