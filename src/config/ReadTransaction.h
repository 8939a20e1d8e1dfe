#pragma once

#include <functional>
#include <optional>
#include <string>
#include <type_traits>
#include <utility>
#include <vector>

#include "db/IBSQL.h"
#include "db/IBTransaction.h"

namespace korvane {
class TIBDatabase;
}  // namespace korvane

namespace korvane::config {

// Starts `transaction`, runs `read` with a statement on it and ends it before returning:
// committed when `read` returns (a read-only transaction the engine can forget at once), rolled
// back when it raises. The read's error is the one raised; a failure to roll back after it is
// dropped.
void RunRead(TIBTransaction& transaction, const std::function<void(TIBSQL&)>& read);

// The one way the program reads: `read` is given a statement on `database` in a transaction of its
// own, started here (at `level`, or with the parameter lines `params`) and ended before this
// returns, as RunRead ends it; returns what `read` returns. No read leaves a transaction open on
// the connection: a session imports many subjects, and every snapshot left open would hold back
// the engine's garbage collection.
template <class Read>
auto ReadInTransaction(TIBDatabase& database, TIBTransactionLevel level, Read&& read);
template <class Read>
auto ReadInTransaction(TIBDatabase& database, std::vector<std::string> params, Read&& read);

namespace detail {

template <class Read>
auto RunReadFor(TIBTransaction& transaction, Read& read) {
  using Result = std::invoke_result_t<Read&, TIBSQL&>;
  if constexpr (std::is_void_v<Result>) {
    RunRead(transaction, read);
  } else {
    std::optional<Result> result;
    RunRead(transaction, [&](TIBSQL& sql) { result.emplace(read(sql)); });
    return std::move(*result);
  }
}

}  // namespace detail

template <class Read>
auto ReadInTransaction(TIBDatabase& database, TIBTransactionLevel level, Read&& read) {
  TIBTransaction transaction(&database, level);
  return detail::RunReadFor(transaction, read);
}

template <class Read>
auto ReadInTransaction(TIBDatabase& database, std::vector<std::string> params, Read&& read) {
  TIBTransaction transaction(&database);
  transaction.Params() = std::move(params);
  return detail::RunReadFor(transaction, read);
}

}  // namespace korvane::config
