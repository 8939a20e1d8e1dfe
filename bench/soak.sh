#!/usr/bin/env bash
# Soaks the program for ten minutes: real imports, up to eight started at once over a few VAT
# numbers, each with at most one fault drawn from the seed, on archives served by the local
# database server and embedded, against the soak's scripted registry; then checks the archives,
# the registry's log and every run's end (tools/soak/main.cpp says what is checked); beside them,
# list sessions stopped at random and resumed until settled, then refreshed the same way, on the
# registry simulator (tools/soak/ListSessions.h says what is checked). Prints the
# soak's figures (runs and runs per second, the run times, how each kind of fault ended, the
# messages), every violation with its reproducer, and the verdict line; exits as the soak does.
# The whole output is also kept in a file whose name it prints first and last, and the soak keeps
# its folder (archives, traces) when a run breaks an invariant. The figures go into the developer
# notes with the date.
#
#   bench/soak.sh [seconds] [seed]      (default 600 and a new seed)
set -euo pipefail
cd "$(dirname "$0")/.."
seconds=${1:-600}
seed=${2:-}

scripts/install-deps
cmake -S . -B build-release -DCMAKE_BUILD_TYPE=Release -DKORVANE_TESTS=OFF >/dev/null
cmake --build build-release -j "$(nproc)" --target korvane soak >/dev/null
# The local server serves the soak's archives; one this script started is stopped at the end.
mark=build-release/soak-server.mark
scripts/firebird-server start --mark "$mark"
trap 'scripts/firebird-server stop-if-marked "$mark"' EXIT

log=build-release/soak-$(date -u '+%Y%m%d-%H%M%S').log
echo "soak: the whole output goes to $log"
# The machine's load while it runs: the one-minute load average every 10 s.
loads=$(mktemp)
(while sleep 10; do cut -d' ' -f1 /proc/loadavg >>"$loads"; done) &
sampler=$!
trap 'kill "$sampler" 2>/dev/null; rm -f "$loads"; scripts/firebird-server stop-if-marked "$mark"' EXIT
set +e
{
  echo "soak: $(date -u '+%Y-%m-%d %H:%M UTC'), $(nproc) cores, load average $(cut -d' ' -f1-3 /proc/loadavg), $seconds s of launches"
  build-release/tools/soak/soak --seconds "$seconds" ${seed:+--seed "$seed"}
  status=$?
  sort -n "$loads" | awk '{ v[NR] = $1; sum += $1 } END {
    if (NR) printf "soak: one-minute load average while it ran: min %.2f, median %.2f, max %.2f, mean %.2f (%d samples)\n",
      v[1], v[int((NR + 1) / 2)], v[NR], sum / NR, NR }'
  exit "$status"
} 2>&1 | tee "$log"
status=${PIPESTATUS[0]}
set -e
echo "soak: the whole output is in $log"
exit "$status"
