#!/usr/bin/env bash
# Measures one whole korvane import against embedded databases and the local registry
# simulator, beside isql-fb doing only the database part of the same work in one session
# (attach both databases, the five reads, the insert). The import runs with two trust stores:
# (a) laid out as on a real machine whose registry has a public CA (SSL_CERT_FILE the system
# bundle, SSL_CERT_DIR a hashed folder of the system certificates, the simulator's CA added to
# both), and (a1) the simulator's CA alone. The three are interleaved, run by run. Prints
# median wall time and peak memory of each, and how they compare with the targets: time
# (a) <= 1.20 x (b), trust store share (a) - (a1) under 2 ms, memory (a) <= (b) + 8 MB.
# Then the round trip: the same import (real trust store) and curl fetching the same answer with
# the same trust store, both through tools/delay-proxy, a relay that holds every chunk half the
# round trip in each direction, at 20 ms and 50 ms; their medians and ratio (target <= 1.10).
# Prints figures only; it asserts nothing.
#
#   bench/import.sh [runs]      (default 21)
set -euo pipefail
cd "$(dirname "$0")/.."
runs=${1:-21}

source scripts/lib/setup.sh
install_and_build build-release -DCMAKE_BUILD_TYPE=Release -DKORVANE_TESTS=OFF
cmake --build build-release -j "$(nproc)" --target delay-proxy >/dev/null
make_work_folder korvane-bench

users=$work/bin/user/user.fdb
archive=$work/archivio.fdb
make_program_folder build-release Bench "$archive"
create_database "$archive" tests/fixtures/archive.sql \
  "INSERT INTO TABX VALUES ('CaratteriRiempimentoClienti', '6', NULL);"

start_simulator build-release
export KORVANE_REGISTRY_URL=https://localhost:$port/base/

# The real layout: the system bundle and a hashed copy of the system folder, each with the
# simulator's CA added. The one-certificate layout: the simulator's CA and an empty folder.
system_bundle=/etc/ssl/certs/ca-certificates.crt
mkdir -p "$work/real-certs" "$work/one-certs"
cat "$system_bundle" "$work/ca.pem" >"$work/real-bundle.pem"
find /etc/ssl/certs -maxdepth 1 -name '*.pem' -exec cp -L -t "$work/real-certs" {} +
cp "$work/ca.pem" "$work/real-certs/korvane-simulator.pem"
openssl rehash "$work/real-certs"

# The database part of one import, as isql-fb runs it in one session. isql-fb holds one
# attachment at a time (CONNECT closes the one before), where korvane keeps both open.
isql_work() {
  cat <<SQL
CONNECT '$users' USER '$SYSDBA_USER';
SELECT * FROM UTENTI WHERE CODICE=1;
SELECT VALORE FROM TABSOFTDES WHERE UTENTE=1 AND INTESTAZIONE='01' AND PARAMETRO='Archivio';
CONNECT '$archive' USER '$SYSDBA_USER';
SELECT TRIM(RF.RDB\$FIELD_NAME) AS COLONNA, COALESCE(F.RDB\$CHARACTER_LENGTH, F.RDB\$FIELD_LENGTH) AS LUNGHEZZA
  FROM RDB\$RELATION_FIELDS RF JOIN RDB\$FIELDS F ON F.RDB\$FIELD_NAME = RF.RDB\$FIELD_SOURCE
  WHERE RF.RDB\$RELATION_NAME = 'CLIENTI' AND F.RDB\$FIELD_TYPE IN (14, 37) AND RF.RDB\$FIELD_NAME IN ('CODICE', 'PI');
SELECT TESTO FROM TABX WHERE (NOME='CaratteriRiempimentoClienti');
SELECT MAX(LPAD(CODICE, 18, '0')) AS CODICEMAX FROM CLIENTI WHERE CODICE SIMILAR TO '[0-9]{1,18}';
INSERT INTO CLIENTI (CODICE,RAGSOC,CF,PI,INDIRIZZO,NUMEROCIVICO,CITTA,PROVINCIA,CAP,CODICEPAESE,
  DATACREAZIONE,DATAULTIMOAGGIORNAMENTO) VALUES ('B$1','Torrefazione','01234567890','01234567890',
  'Via Giuseppe Verdi','12','Milano','MI','20121','IT',CURRENT_DATE,CURRENT_DATE);
COMMIT;
SQL
}

# Runs a command once under GNU time; prints "seconds kilobytes", the wall time measured here
# to the microsecond (time's own has only hundredths).
measure() {
  local start=$EPOCHREALTIME
  /usr/bin/time -f "%M" -o "$work/time" "$@" >"$work/out" 2>&1 || {
    echo "bench: a run failed:" >&2
    cat "$work/out" >&2
    exit 1
  }
  local end=$EPOCHREALTIME
  echo "$(awk -v s="$start" -v e="$end" 'BEGIN { printf "%.6f", e - s }') $(cat "$work/time")"
}

median() { sort -n | awk '{ v[NR] = $1 } END { print v[int((NR + 1) / 2)] }'; }

: >"$work/a"
: >"$work/a1"
: >"$work/b"
korvane_import=("$work/bin/korvane" -UTENTE 1 -DITTA 01 -PIVA 01234567890 -APITOKEN bench)
for i in $(seq "$runs"); do
  SSL_CERT_FILE=$work/real-bundle.pem SSL_CERT_DIR=$work/real-certs measure "${korvane_import[@]}" >>"$work/a"
  SSL_CERT_FILE=$work/ca.pem SSL_CERT_DIR=$work/one-certs measure "${korvane_import[@]}" >>"$work/a1"
  isql_work "$i" >"$work/b.sql"
  measure isql-fb -q -i "$work/b.sql" >>"$work/b"
done

column() { cut -d' ' -f"$2" "$work/$1"; }
time_a=$(column a 1 | median)
time_a1=$(column a1 1 | median)
time_b=$(column b 1 | median)
mem_a=$(column a 2 | median)
mem_a1=$(column a1 2 | median)
mem_b=$(column b 2 | median)

echo "runs: $runs each, interleaved"
echo "trust store (a): $(grep -c BEGIN "$work/real-bundle.pem") certificates in the file, $(find "$work/real-certs" -name '*.[0-9]' | wc -l) hashed in the folder"
report() {
  printf "%-40s median %6.3f s   peak memory median %6d KB (max %d KB)\n" "$1" "$2" "$3" \
    "$(column "$4" 2 | sort -n | tail -1)"
}
report "(a)  korvane import, real trust store:" "$time_a" "$mem_a" a
report "(a1) korvane import, one certificate:" "$time_a1" "$mem_a1" a1
report "(b)  isql-fb database part:" "$time_b" "$mem_b" b
awk -v ta="$time_a" -v ta1="$time_a1" -v tb="$time_b" -v ma="$mem_a" -v ma1="$mem_a1" -v mb="$mem_b" 'BEGIN {
  printf "time ratio (a)/(b):  %.2f   (target <= 1.20)\n", (tb > 0) ? ta / tb : 0
  printf "time ratio (a1)/(b): %.2f\n", (tb > 0) ? ta1 / tb : 0
  printf "trust store share (a)-(a1): %+.1f ms   (target < 2 ms)\n", (ta - ta1) * 1000
  printf "memory (a)-(b):  %+d KB   (target <= +8192 KB)\n", ma - mb
  printf "memory (a1)-(b): %+d KB\n", ma1 - mb
}'

# The round trip: korvane and curl through the same delaying relay, interleaved run by run.
: >"$work/delay-pids"
stop_relays() {
  local pid
  while read -r pid; do kill "$pid" 2>/dev/null || true; done <"$work/delay-pids"
}
trap 'stop_relays; remove_work_folder' EXIT
curl_get=(curl -sS -f -o /dev/null --cacert "$work/real-bundle.pem" --capath "$work/real-certs"
  -H "Accept: application/json" -H "Authorization: Bearer bench")
for rtt in 20 50; do
  build-release/tools/delay-proxy/delay-proxy 0 "$port" "$rtt" >"$work/delay-$rtt" &
  echo $! >>"$work/delay-pids"
  for _ in $(seq 100); do
    [ -s "$work/delay-$rtt" ] && break
    sleep 0.1
  done
  relay_port=$(awk '{ print $2 }' "$work/delay-$rtt")
  url=https://localhost:$relay_port/base/
  : >"$work/rk-$rtt"
  : >"$work/rc-$rtt"
  for i in $(seq "$runs"); do
    KORVANE_REGISTRY_URL=$url SSL_CERT_FILE=$work/real-bundle.pem SSL_CERT_DIR=$work/real-certs \
      measure "${korvane_import[@]}" >>"$work/rk-$rtt"
    measure "${curl_get[@]}" "${url}01234567890" >>"$work/rc-$rtt"
  done
  time_k=$(column "rk-$rtt" 1 | median)
  time_c=$(column "rc-$rtt" 1 | median)
  awk -v rtt="$rtt" -v tk="$time_k" -v tc="$time_c" 'BEGIN {
    printf "round trip %2d ms: korvane import median %6.1f ms, curl GET median %6.1f ms, ratio %.2f   (target <= 1.10)\n",
      rtt, tk * 1000, tc * 1000, (tc > 0) ? tk / tc : 0
  }'
done
