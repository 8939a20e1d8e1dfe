#!/usr/bin/env bash
# Measures a list import (korvane --lista) against embedded databases and the local registry
# simulator: N numbers with every answer held DELAY ms, then the same with answers at once, each a
# new archive; beside them isql-fb doing the same code look-ups and inserts in one session (the
# database floor), and one single import for its peak memory. Prints wall times, peak memory and
# the ratios the list's targets are stated in; it asserts nothing.
#
#   bench/list.sh [numbers] [delay-ms] [parallel]      (default 200 numbers, 300 ms, 4 at once)
set -euo pipefail
cd "$(dirname "$0")/.."
numbers=${1:-200}
delay=${2:-300}
parallel=${3:-4}

source scripts/lib/setup.sh
install_and_build build-release -DCMAKE_BUILD_TYPE=Release -DKORVANE_TESTS=OFF
make_work_folder korvane-bench-list

# Valid VAT numbers: seven digits of a count, office 001, the check digit.
check_digit() {
  local base=$1 sum=0 i digit
  for i in $(seq 0 9); do
    digit=${base:$i:1}
    if ((i % 2 == 1)); then
      digit=$((digit * 2))
      ((digit > 9)) && digit=$((digit - 9))
    fi
    sum=$((sum + digit))
  done
  echo $(((10 - sum % 10) % 10))
}
mkdir -p "$work/data"
echo "Partita IVA" >"$work/lista.csv"
for i in $(seq 1 "$numbers"); do
  base=$(printf "%07d001" $((1000000 + i)))
  vat=$base$(check_digit "$base")
  echo "$vat" >>"$work/lista.csv"
  cp tools/demo/registry/01234567890.json "$work/data/$vat.json"
done

measure() {
  local start=$EPOCHREALTIME
  /usr/bin/time -f "%M" -o "$work/time" "$@" >"$work/out" 2>&1 || true
  local end=$EPOCHREALTIME
  echo "$(awk -v s="$start" -v e="$end" 'BEGIN { printf "%.3f", e - s }') $(tail -n 1 "$work/time")"
}

fresh_archive() {
  rm -f "$work/archivio.fdb" "$work/risposte.sqlite"* "$work/lista.rapporto.csv"
  create_database "$work/archivio.fdb" tests/fixtures/archive.sql ""
}

export KORVANE_ANSWER_STORE=$work/risposte.sqlite
make_program_folder build-release Bench "$work/archivio.fdb"
list_run=("$work/bin/korvane" --lista "$work/lista.csv" --parallele "$parallel" -UTENTE 1 -DITTA 01 -APITOKEN bench)

start_simulator build-release "$work/data" --delay-ms "$delay"
export KORVANE_REGISTRY_URL=https://localhost:$port/base/ SSL_CERT_FILE=$work/ca.pem
fresh_archive
read -r time_slow mem_slow < <(measure "${list_run[@]}")
echo "with $delay ms answers: $(cat "$work/out")"
kill "$simulator"
wait "$simulator" 2>/dev/null || true
rm -f "$work/port"

start_simulator build-release "$work/data"
export KORVANE_REGISTRY_URL=https://localhost:$port/base/
fresh_archive
read -r time_fast mem_fast < <(measure "${list_run[@]}")
echo "with answers at once: $(cat "$work/out")"
fresh_archive
read -r time_single mem_single < <(measure "$work/bin/korvane" -UTENTE 1 -DITTA 01 -PIVA "$(sed -n 2p "$work/lista.csv")" -APITOKEN bench)

# The database floor: per number the code look-up, the VAT number look-up and the insert, in one
# isql-fb session on the same archive.
fresh_archive
{
  echo "CONNECT '$work/archivio.fdb' USER '$SYSDBA_USER';"
  tail -n +2 "$work/lista.csv" | awk '{
    printf "SELECT FIRST 1 CODICE FROM CLIENTI WHERE PI = '\''%s'\'';\n", $1
    printf "SELECT MAX(LPAD(CODICE, 18, '\''0'\'')) FROM CLIENTI WHERE CODICE SIMILAR TO '\''[0-9]{1,18}'\'';\n"
    printf "INSERT INTO CLIENTI (CODICE,RAGSOC,PI) VALUES ('\''B%d'\'','\''Torrefazione'\'','\''%s'\'');\nCOMMIT;\n", NR, $1
  }'
} >"$work/floor.sql"
read -r time_floor mem_floor < <(measure isql-fb -q -i "$work/floor.sql")

awk -v n="$numbers" -v d="$delay" -v k="$parallel" -v ts="$time_slow" -v tf="$time_fast" -v tfl="$time_floor" \
  -v ms="$mem_slow" -v mf="$mem_fast" -v m1="$mem_single" 'BEGIN {
  printf "numbers: %d\n", n
  printf "list, %d ms answers:   %8.2f s   peak %6d KB\n", d, ts, ms
  printf "list, answers at once: %8.2f s   peak %6d KB\n", tf, mf
  printf "isql-fb floor:         %8.2f s\n", tfl
  printf "single import:                     peak %6d KB\n", m1
  floor = n * d / 1000 / k; if (tfl > floor) floor = tfl
  printf "time (%d ms) / max(N x %.1f s / %d, floor): %.2f   (target <= 1.15)\n", d, d / 1000, k, ts / floor
  printf "time (at once) / floor: %.2f   (target <= 1.30)\n", tf / tfl
  printf "memory list - single: %+d KB   (target <= +16384 KB)\n", ms - m1
}'
