#pragma once

// Internal to the db layer: the client library's status-vector codes that the layer looks for,
// apart from the library itself so that the error family can read them too.

#include <ibase.h>

namespace korvane::db {

// Status-vector codes the layer looks for.
inline constexpr ISC_STATUS kConnectionLost = 335544741;      // isc_lost_db_connection
inline constexpr ISC_STATUS kNetworkError = 335544721;        // isc_network_error
inline constexpr ISC_STATUS kNetworkReadError = 335544726;    // isc_net_read_err
inline constexpr ISC_STATUS kNetworkWriteError = 335544727;   // isc_net_write_err
inline constexpr ISC_STATUS kConnectionShutdown = 335545106;  // isc_att_shutdown
// The codes that tell a connection that went away.
inline constexpr ISC_STATUS kLostConnectionCodes[] = {kNetworkError, kNetworkReadError, kNetworkWriteError,
                                                      kConnectionLost, kConnectionShutdown};
// The engine's refusals of a row whose key is taken.
inline constexpr ISC_STATUS kUniqueKeyViolation = 335544665;     // isc_unique_key_violation
inline constexpr ISC_STATUS kDuplicateInIndex = 335544349;       // isc_no_dup
inline constexpr ISC_STATUS kLockConflict = 335544345;           // isc_lock_conflict
inline constexpr ISC_STATUS kDeadlock = 335544336;               // isc_deadlock
inline constexpr ISC_STATUS kUpdateConflict = 335544451;         // isc_update_conflict
inline constexpr ISC_STATUS kConcurrentTransaction = 335544878;  // isc_concurrent_transaction
inline constexpr ISC_STATUS kIoError = 335544344;                // isc_io_error
inline constexpr ISC_STATUS kNoCursor = 335544572;               // isc_dsql_cursor_err
inline constexpr ISC_STATUS kBadStatementHandle = 335544485;
inline constexpr ISC_STATUS kCursorAlreadyClosed = 335544577;

}  // namespace korvane::db
