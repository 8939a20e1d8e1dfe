#!/usr/bin/env bash
# The cron recipe of the administrator's guide (docs/amministratore.md, between the markers
# "korvane-coda: inizio" and "korvane-coda: fine"), taken from the guide as it is written and run
# as a user other than root against the offline registry simulator, on embedded databases owned
# by that user:
#   - a queue of CR LF lines in the common VAT forms, with a blank and a comment line: each line
#     leaves the queue, the imported ones into importati.txt, the others into falliti.txt with
#     their message on one line (a failed write's bare CR and CR LF turned into blanks and " / ");
#     with PartitaIvaPresenteClienti = Riusa the same number twice is one customer;
#   - a second run finds nothing to do and changes nothing;
#   - an environment file the user cannot read, or one without the token, stops the script before
#     any line: the queue stays as it was.
# Must run as root (it makes the user's files and then drops to that user).
#
#   tests/program/cron-recipe-test.sh BUILD_DIR
set -euo pipefail
cd "$(dirname "$0")/../.."
build=${1:?usage: cron-recipe-test.sh BUILD_DIR}
source scripts/lib/setup.sh

fail() {
  echo "cron-recipe-test: $*" >&2
  exit 1
}

# A user id and group id that no account uses: the runs get no name and no other group.
uid=64123
while getent passwd "$uid" >/dev/null || getent group "$uid" >/dev/null; do uid=$((uid + 1)); done

make_work_folder korvane-cron
chmod 0755 "$work"

# The recipe, out of the guide.
sed -n '/<!-- korvane-coda: inizio -->/,/<!-- korvane-coda: fine -->/p' docs/amministratore.md |
  sed -e '1d' -e '$d' -e 's/^    //' >"$work/korvane-coda"
head -n 1 "$work/korvane-coda" | grep -q '^#!/bin/bash' || fail "no recipe found in docs/amministratore.md"
chmod 0755 "$work/korvane-coda"

# The program folder and the archive: customers with codes of six digits, Riusa, and a check
# that refuses the ceased company's row, so that its write fails with the engine's text.
make_program_folder "$build" Cron "$work/ditta01/archivio.fdb"
mkdir -p "$work/ditta01"
create_database "$work/ditta01/archivio.fdb" tests/fixtures/archive.sql \
  "INSERT INTO TABX VALUES ('CaratteriRiempimentoClienti', '6', NULL);
   INSERT INTO TABX VALUES ('PartitaIvaPresenteClienti', 'Riusa', NULL);
   ALTER TABLE CLIENTI ADD CONSTRAINT NESSUNA_VETRERIA CHECK (PI <> '04567890123');"
start_simulator "$build"

mkdir -p "$work/coda" "$work/lock" "$work/etc"
printf '%s\n' "KORVANE_APITOKEN=cron-token" "KORVANE_REGISTRY_URL=https://localhost:$port/base/" \
  "SSL_CERT_FILE=$work/ca.pem" >"$work/etc/korvane.env"
chmod 0600 "$work/etc/korvane.env"
printf '%s\r\n' "01234567890" "" "# una riga di commento" "IT 0123.4567-890" "it 0987.6543-211" \
  "00000000402" "0123/4567890" "04567890123" >"$work/coda/coda.txt"
chown -R "$uid:$uid" "$work/bin" "$work/ditta01" "$work/coda" "$work/lock" "$work/etc"

# A sanitizer build's leak suppressions, copied where the other user can read them (the source
# tree may lie under a folder that only root can enter).
lsan_options=${LSAN_OPTIONS:-}
if [[ $lsan_options =~ suppressions=([^:]*) ]]; then
  install -m 0644 "${BASH_REMATCH[1]}" "$work/lsan.supp"
  lsan_options=${lsan_options/"${BASH_REMATCH[1]}"/$work/lsan.supp}
fi

# Runs the recipe as the other user, with cron's plain environment (and a sanitizer build's options).
run_recipe() {
  setpriv --reuid="$uid" --regid="$uid" --clear-groups \
    env -i PATH="$work/bin:/usr/bin:/bin" KORVANE_AMBIENTE="$work/etc/korvane.env" FIREBIRD_LOCK="$work/lock" \
    ${ASAN_OPTIONS:+ASAN_OPTIONS=$ASAN_OPTIONS} ${lsan_options:+LSAN_OPTIONS=$lsan_options} \
    ${UBSAN_OPTIONS:+UBSAN_OPTIONS=$UBSAN_OPTIONS} /bin/bash "$work/korvane-coda" "$work/coda" >"$work/out" 2>&1
}
customers() {
  printf "SET HEADING OFF;\nSELECT CODICE || '|' || PI FROM CLIENTI ORDER BY CODICE;\n" |
    isql-fb -q -user "$SYSDBA_USER" "$work/ditta01/archivio.fdb" | sed -e 's/ *$//' -e '/^$/d'
}
# The lines of a result file without their time: VAT number and message.
results() { cut -f 2- "$work/coda/$1"; }

run_recipe || fail "the recipe failed: $(cat "$work/out")"
[ ! -e "$work/coda/coda.txt" ] && [ ! -e "$work/coda/lavorazione.txt" ] || fail "lines are left in the queue"
expected_imported=$'01234567890\t000001\nIT01234567890\t000001'
[ "$(results importati.txt)" = "$expected_imported" ] || fail "importati.txt holds: $(cat "$work/coda/importati.txt")"
expected_failed=$'IT09876543211\tHTTP/1.1 404 Not Found (codice di uscita 1)
00000000402\tHTTP/1.1 402 Payment Required (codice di uscita 1)
0123/4567890\tP.IVA non riconosciuta (parametro PIVA) (codice di uscita 1)'
failed=$(results falliti.txt)
[ "$(head -n 3 <<<"$failed")" = "$expected_failed" ] || fail "falliti.txt holds: $(cat "$work/coda/falliti.txt")"
# The failed write: its bare CR became a blank, the engine's CR LF lines " / ", all on one line.
write_line=$(sed -n 4p <<<"$failed")
case $write_line in
  $'04567890123\tFallita scrittura su database Operation violates CHECK constraint NESSUNA_VETRERIA'*' / '*'(codice di uscita 1)') ;;
  *) fail "the failed write reads: $write_line" ;;
esac
[ "$(wc -l <"$work/coda/falliti.txt")" -eq 4 ] || fail "falliti.txt has other lines: $(cat "$work/coda/falliti.txt")"
if grep -q $'\r' "$work/coda/importati.txt" "$work/coda/falliti.txt"; then fail "a carriage return is left in a result file"; fi
[ "$(customers)" = "000001|01234567890" ] || fail "the archive holds: $(customers)"
[ "$(stat -c %u "$work/coda/importati.txt")" = "$uid" ] || fail "the results do not belong to the user"

# Nothing left to do.
before=$(cat "$work/coda/importati.txt" "$work/coda/falliti.txt")
run_recipe || fail "the second run failed: $(cat "$work/out")"
[ "$(cat "$work/coda/importati.txt" "$work/coda/falliti.txt")" = "$before" ] || fail "the second run changed the results"

# Without its environment the script stops before any line, and says why.
printf '%s\r\n' "09876543210" >"$work/coda/coda.txt"
chown "$uid:$uid" "$work/coda/coda.txt"
chown root:root "$work/etc/korvane.env"
if run_recipe; then fail "the recipe went on without its environment file"; fi
grep -q "korvane.env non leggibile: coda non elaborata" "$work/out" || fail "the recipe said: $(cat "$work/out")"
grep -v KORVANE_APITOKEN "$work/etc/korvane.env" >"$work/etc/senza-token.env"
mv "$work/etc/senza-token.env" "$work/etc/korvane.env"
chown "$uid:$uid" "$work/etc/korvane.env"
chmod 0600 "$work/etc/korvane.env"
if run_recipe; then fail "the recipe went on without the token"; fi
grep -q "KORVANE_APITOKEN assente" "$work/out" || fail "the recipe said: $(cat "$work/out")"
[ "$(cat "$work/coda/coda.txt")" = $'09876543210\r' ] || fail "the queue changed though nothing ran"
[ "$(cat "$work/coda/importati.txt" "$work/coda/falliti.txt")" = "$before" ] || fail "the results changed though nothing ran"
echo "cron-recipe-test: the guide's recipe imported, recorded and emptied its queue as user $uid"
