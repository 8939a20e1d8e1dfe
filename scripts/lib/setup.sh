# Sourced by scripts/demo and bench/import.sh, from the repository's root: what both need for a
# real import on this machine. The work folder, the simulator's process id and its port are in
# $work, $simulator and $port.
source "$(dirname "${BASH_SOURCE[0]}")/login.sh"

# install_and_build BUILD_DIR [CMAKE_OPTION...]: installs what is needed, then configures
# BUILD_DIR and builds korvane and the registry simulator in it.
install_and_build() {
  local build=$1
  shift
  scripts/install-deps
  cmake -S . -B "$build" "$@" >/dev/null
  cmake --build "$build" -j "$(nproc)" --target korvane registry-simulator >/dev/null
}

# make_work_folder NAME: a new folder /tmp/NAME-XXXXXX, removed with the simulator at exit.
make_work_folder() {
  work=$(mktemp -d "/tmp/$1-XXXXXX")
  simulator=
  trap remove_work_folder EXIT
}

remove_work_folder() {
  if [ -n "$simulator" ]; then kill "$simulator" 2>/dev/null || true; fi
  rm -rf "$work"
}

# create_database FILE SCHEMA STATEMENTS: FILE made on the embedded engine from the schema script
# and the statements, committed. The embedded engine checks no password.
create_database() {
  { echo "CREATE DATABASE '$1' USER '$SYSDBA_USER' DEFAULT CHARACTER SET NONE;"
    cat "$2"; echo "$3"; echo "COMMIT;"; } | isql-fb -q -b >/dev/null
}

# make_program_folder BUILD_DIR USER_NAME ARCHIVE: $work/bin with korvane and its users database
# in user/user.fdb, where user 1 is USER_NAME and the archive of company 01 is ARCHIVE.
make_program_folder() {
  mkdir -p "$work/bin/user"
  cp "$1/src/app/korvane" "$work/bin/korvane"
  create_database "$work/bin/user/user.fdb" tests/fixtures/users.sql \
    "INSERT INTO UTENTI VALUES (1, '$2', '01', '${2,,}');
     INSERT INTO TABSOFTDES VALUES (1, '01', 'Archivio', '$3');"
}

# start_simulator BUILD_DIR [DATA_DIR [OPTION...]]: the registry simulator on 127.0.0.1, answering
# from DATA_DIR (tools/demo/registry by default) with any further options of its own, its CA in
# $work/ca.pem. Returns once it listens on $port; fails with a message when it ends first or does
# not listen in time.
start_simulator() {
  local build=$1 data=${2:-tools/demo/registry}
  shift $(($# < 2 ? $# : 2))
  "$build/tools/registry-simulator/registry-simulator" --data "$data" \
    --ca-out "$work/ca.pem" --port-file "$work/port" "$@" &
  simulator=$!
  local status
  for _ in $(seq 100); do  # tenths of a second
    if [ -s "$work/port" ]; then
      port=$(cat "$work/port")
      return 0
    fi
    if ! kill -0 "$simulator" 2>/dev/null; then
      status=0
      wait "$simulator" || status=$?
      simulator=
      echo "$(basename "$0"): the registry simulator ended (exit code $status) before it listened" >&2
      return 1
    fi
    sleep 0.1
  done
  echo "$(basename "$0"): the registry simulator did not listen within 10 s" >&2
  return 1
}
