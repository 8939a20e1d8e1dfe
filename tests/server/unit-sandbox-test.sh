#!/usr/bin/env bash
# The service's imports on embedded databases inside the unit's sandbox, with the override the
# administrator's guide gives for a firm without a database server: the whole system read-only
# (ProtectSystem=strict, /tmp included since PrivateTmp=no), writable only the users database's
# folder, the archives' folder and the engine's lock folder made by ExecStartPre, the process of
# an unnamed user in the firebird group with UMask=0007. The paths are the test's own folders in
# the place of /opt/korvane/user and /srv/gestionale.
#   - with the override, korvane imports and the row is in the archive;
#   - without the lock folder among the writable paths the import fails with exit 1 and a message
#     (what the guide warns of), and nothing is written.
# Must run as root (it makes a mount namespace of its own and drops to the unnamed user).
#
#   tests/server/unit-sandbox-test.sh BUILD_DIR
set -euo pipefail
cd "$(dirname "$0")/../.."
build=${1:?usage: unit-sandbox-test.sh BUILD_DIR}
source scripts/lib/setup.sh

fail() {
  echo "unit-sandbox-test: $*" >&2
  exit 1
}

uid=64223
while getent passwd "$uid" >/dev/null || getent group "$uid" >/dev/null; do uid=$((uid + 1)); done
firebird_gid=$(getent group firebird | cut -d: -f3)
[ -n "$firebird_gid" ] || fail "no firebird group on this machine"

make_work_folder korvane-unit-sandbox
chmod 0755 "$work"
make_program_folder "$build" Servizio "$work/gestionale/ditta01.fdb"
mkdir -p "$work/gestionale"
create_database "$work/gestionale/ditta01.fdb" tests/fixtures/archive.sql ""
start_simulator "$build"
chmod 0755 "$work/bin"
chmod 0644 "$work/ca.pem"

# The guide's commands for the databases' group.
chgrp -R firebird "$work/bin/user" "$work/gestionale"
chmod -R g+rwX "$work/bin/user" "$work/gestionale"

# A sanitizer build's leak suppressions, where the unnamed user can read them.
lsan_options=${LSAN_OPTIONS:-}
if [[ $lsan_options =~ suppressions=([^:]*) ]]; then
  install -m 0644 "${BASH_REMATCH[1]}" "$work/lsan.supp"
  lsan_options=${lsan_options/"${BASH_REMATCH[1]}"/$work/lsan.supp}
fi

# import WITH_LOCK_FOLDER VAT: one import in the emulated sandbox; its line in $work/out (opened
# outside, where it is writable), its exit code returned.
import() {
  local with_lock_folder=$1 vat=$2
  unshare --mount --propagation private /bin/bash -s "$with_lock_folder" "$vat" >"$work/out" <<EOF
set -e
if [ "\$1" = yes ]; then
  # ExecStartPre=+/usr/bin/install -d -o firebird -g firebird -m 2770 /tmp/firebird, on a folder
  # of this namespace's own so that the machine's lock folder is not touched.
  mount -t tmpfs -o size=16m tmpfs /tmp/firebird
  /usr/bin/install -d -o firebird -g firebird -m 2770 /tmp/firebird
  writable=("$work/bin/user" "$work/gestionale" /tmp/firebird)
else
  writable=("$work/bin/user" "$work/gestionale")
fi
for path in "\${writable[@]}"; do mount --bind "\$path" "\$path"; done
# ProtectSystem=strict: everything else read-only (only the root mount: the writable paths above
# are mounts of their own and keep their mode).
mount -o remount,bind,ro /
umask 0007
status=0
setpriv --reuid=$uid --regid=$uid --groups=$firebird_gid \
  env -i PATH=/usr/bin:/bin KORVANE_APITOKEN=sandbox-token \
  KORVANE_REGISTRY_URL=https://localhost:$port/base/ SSL_CERT_FILE=$work/ca.pem \
  ${ASAN_OPTIONS:+ASAN_OPTIONS=$ASAN_OPTIONS} ${lsan_options:+LSAN_OPTIONS=$lsan_options} \
  ${UBSAN_OPTIONS:+UBSAN_OPTIONS=$UBSAN_OPTIONS} \
  "$work/bin/korvane" -UTENTE 1 -DITTA 01 -PIVA "\$2" 2>&1 || status=\$?
exit \$status
EOF
}
customers() {
  printf "SET HEADING OFF;\nSELECT CODICE || '|' || PI FROM CLIENTI ORDER BY CODICE;\n" |
    isql-fb -q -user "$SYSDBA_USER" "$work/gestionale/ditta01.fdb" | sed -e 's/ *$//' -e '/^$/d'
}

# Without the lock folder the engine cannot work: the guide's warning holds.
status=0
import no 09876543210 || status=$?
[ "$status" -eq 1 ] || fail "without the lock folder the import exited $status: $(cat "$work/out")"
[ -s "$work/out" ] || fail "without the lock folder the import printed nothing"
echo "unit-sandbox-test: without the lock folder: $(tr -d "\r" <"$work/out" | head -n 2 | tr "\n" " ")"
[ -z "$(customers)" ] || fail "without the lock folder the archive holds: $(customers)"

# With the override the import runs.
status=0
import yes 01234567890 || status=$?
[ "$status" -eq 0 ] || fail "the import in the sandbox exited $status: $(cat "$work/out")"
[ "$(cat "$work/out")" = $'0001\r' ] || fail "the import printed: $(cat "$work/out")"
[ "$(customers)" = "0001|01234567890" ] || fail "the archive holds: $(customers)"
echo "unit-sandbox-test: the import ran as user $uid in the unit's sandbox with the guide's override"
