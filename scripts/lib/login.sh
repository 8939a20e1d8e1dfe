# Sourced by the scripts that reach the database engine: the logins they use.
#
# The program's built-in login (compiled into korvane, used by every connection of a run that is
# given no other) is SYSDBA with the suite's built-in password. The embedded engine, which the
# scripts use for plain file paths, takes the user's name and checks no password, so the scripts
# name the user alone there.
#
# The local test server (scripts/firebird-server) has a SYSDBA password of its own, generated on
# this machine the first time the server is started for the tests and kept in a file readable
# only by root; it is never written in the repository. A run of korvane through that server is
# given it in KORVANE_DB_USER and KORVANE_DB_PASSWORD.
# shellcheck disable=SC2034  # used by the scripts that source it
SYSDBA_USER=SYSDBA
TEST_SERVER_PASSWORD_FILE=/var/lib/korvane-tests/sysdba.password

# Prints the test server's SYSDBA password; fails with a message when there is none yet.
test_server_password() {
  local password=
  if [[ -r "$TEST_SERVER_PASSWORD_FILE" ]]; then password=$(head -n 1 "$TEST_SERVER_PASSWORD_FILE"); fi
  if [[ -z "$password" ]]; then
    echo "$(basename "$0"): no test server password in $TEST_SERVER_PASSWORD_FILE (run scripts/firebird-server start as root)" >&2
    return 1
  fi
  printf '%s\n' "$password"
}
