#pragma once

#include <chrono>
#include <string>

#include "app/answer/AnswerPaths.h"
#include "app/ledger/RequestLedger.h"
#include "config/QelDBUtility.h"
#include "db/CallBound.h"
#include "platform/Environment.h"
#include "registry/RegistryEndpoint.h"

namespace korvane {

// What the environment adds to the command line, read and checked once at the start of a run
// and handed downwards from there.
struct RunOptions {
  // The registry's address in force (the VAT number is appended to it) and the web proxy to
  // reach it through.
  registry::RegistryEndpoint registryEndpoint;
  // Where the answer format spoken at that address holds the new subject's values.
  const AnswerPaths* answerPaths = nullptr;
  // The login of every database connection of the run, and where its two parts came from (the
  // variable's name, or empty for the built-in value).
  config::DatabaseLogin databaseLogin;
  std::string databaseUserSource;
  std::string databasePasswordSource;
  // The ledger of paid requests and the daily limit (KORVANE_LEDGER, KORVANE_DAILY_LIMIT).
  LedgerOptions ledger;
  // The store of answers as KORVANE_ANSWER_STORE names it; empty when the variable is not set
  // (a single run then keeps nothing there).
  std::string answerStore;
  // How long any database call may go unanswered (KORVANE_DB_TIMEOUT).
  std::chrono::seconds databaseTimeout = db::kDefaultCallTimeout;
};

// The token of KORVANE_APITOKEN as UTF-8, empty when the variable is not set. A variable is not
// shown to other local users the way a command line is.
std::string ApiTokenFrom(const platform::EnvironmentLookup& environment);

// Reads and checks the registry's address ("Indirizzo del registro non valido
// (KORVANE_REGISTRY_URL)" for one that could not go on a request line), then the web proxy
// ("Indirizzo del proxy non valido (https_proxy)"), before any network or database work; then the
// database login: KORVANE_DB_USER and KORVANE_DB_PASSWORD, each when set and not empty, replace
// the built-in user name and password. The database tools' own ISC_USER and ISC_PASSWORD are not
// read: an administrator's settings for those tools must not change the login of a run. Last,
// the ledger and the daily limit (ReadLedgerOptions' messages).
// KORVANE_DB_TIMEOUT, when set, is the seconds a database call may go unanswered, a whole number
// from 1 to 3600 ("Tempo di attesa del database non valido (KORVANE_DB_TIMEOUT)" otherwise).
RunOptions ReadRunOptions(const platform::EnvironmentLookup& environment);

}  // namespace korvane
