#!/usr/bin/env bash
# What the company's lock ("PartitaIvaPresenteClienti") costs runs at the same time: batches of 5
# imports started together for 5 different VAT numbers, the users database and the archive both
# through the local database server, the registry simulator holding every answer 300 ms. Each
# batch's wall time (start of the first run to the end of the last) with the setting off and with
# it at "Riusa", interleaved batch by batch; the rows of a batch are removed before the next.
# Prints medians; asserts nothing.
#
#   bench/lock.sh [batches] [korvane binary]     (default 9 batches; the Release build's program)
#
# BENCH_BUILD=<build folder> uses a build that exists already (its simulator, and its program
# unless one is given) instead of installing and building build-release.
set -euo pipefail
cd "$(dirname "$0")/.."
batches=${1:-9}
delay_ms=300
vat_numbers=(01234567890 02345678901 03456789012 04567890123 05678901234)

source scripts/lib/setup.sh
build=${BENCH_BUILD:-build-release}
if [ -z "${BENCH_BUILD:-}" ]; then
  install_and_build build-release -DCMAKE_BUILD_TYPE=Release -DKORVANE_TESTS=OFF
fi
program=${2:-$build/src/app/korvane}
make_work_folder korvane-lock

# Every number answers with the demo's company.
mkdir -p "$work/registry"
for vat in "${vat_numbers[@]}"; do cp tools/demo/registry/01234567890.json "$work/registry/$vat.json"; done
start_simulator "$build" "$work/registry" --delay-ms "$delay_ms"
export KORVANE_REGISTRY_URL=https://localhost:$port/base/ SSL_CERT_FILE=$work/ca.pem
# The runs log in to the test server with its own password, not the built-in one.
scripts/firebird-server start
KORVANE_DB_PASSWORD=$(test_server_password)
export KORVANE_DB_USER=$SYSDBA_USER KORVANE_DB_PASSWORD

# Both databases through the server, as runs at the same time need: dati.ini beside user.fdb,
# "Archivio" a host:path name. The server's user owns the files.
archive=$work/data/archivio.fdb
mkdir -p "$work/data"
make_program_folder "$build" Bench "localhost:$archive"
cp "$program" "$work/bin/korvane"
create_database "$archive" tests/fixtures/archive.sql "INSERT INTO CLIENTI (CODICE) VALUES ('0123');"
printf '[CONFIG]\r\nPercorsoDatabase=localhost:%s\r\n' "$work/bin/user/user.fdb" >"$work/bin/user/dati.ini"
chown -R firebird:firebird "$work"
chmod -R u+rwX,g+rwX "$work"
chmod o+x "$work" "$work/bin" "$work/bin/user"

served_sql() {
  echo "$1 COMMIT;" | ISC_USER=$SYSDBA_USER ISC_PASSWORD=$KORVANE_DB_PASSWORD isql-fb -q "localhost:$archive" >/dev/null
}

# batch SETTING: 5 runs at once; prints the batch's wall time in seconds.
batch() {
  served_sql "DELETE FROM CLIENTI WHERE CODICE <> '0123'; DELETE FROM TABX;"
  if [ -n "$1" ]; then served_sql "INSERT INTO TABX VALUES ('PartitaIvaPresenteClienti', '$1', NULL);"; fi
  local start=$EPOCHREALTIME pids=() vat pid failed=0
  for vat in "${vat_numbers[@]}"; do
    "$work/bin/korvane" -UTENTE 1 -DITTA 01 -PIVA "$vat" -APITOKEN bench >"$work/out-$vat" 2>&1 &
    pids+=($!)
  done
  for pid in "${pids[@]}"; do wait "$pid" || failed=1; done
  local end=$EPOCHREALTIME
  if [ "$failed" -ne 0 ]; then
    echo "bench: a run failed:" >&2
    cat "$work"/out-* >&2
    exit 1
  fi
  awk -v s="$start" -v e="$end" 'BEGIN { printf "%.3f\n", e - s }'
}

median() { sort -n | awk '{ v[NR] = $1 } END { print v[int((NR + 1) / 2)] }'; }

: >"$work/off"
: >"$work/on"
batch "" >/dev/null  # warms the server's cache and the program's pages
for _ in $(seq "$batches"); do
  batch "" >>"$work/off"
  batch Riusa >>"$work/on"
done

off=$(median <"$work/off")
on=$(median <"$work/on")
echo "program: $program"
echo "5 runs at once, different VAT numbers, registry answer held ${delay_ms} ms, $batches batches each, interleaved"
awk -v off="$off" -v on="$on" -v slowest_off="$(sort -n "$work/off" | tail -1)" \
  -v slowest_on="$(sort -n "$work/on" | tail -1)" 'BEGIN {
  printf "setting off:    median %.2f s (slowest %.2f s)\n", off, slowest_off
  printf "setting Riusa:  median %.2f s (slowest %.2f s)\n", on, slowest_on
  printf "cost of the lock: %+.2f s per batch (ratio %.2f)\n", on - off, (off > 0) ? on / off : 0
}'
