#!/usr/bin/env bash
# The unattended run of Talvane.exe under Wine against the demo cloud:
# wine_demo.sh PREFIX [--tls]. The cloud's Tekmo package carries a Windows stand-in
# (tekmo_standin.c, built with the tests) and its 7za.zip the test 7-Zip (7zz.exe).
# --tls: FTP servers that take only AUTH TLS sign-ins, checked by Schannel against
# the cloud's private CA.
set -euo pipefail
prefix="$1"
TLS=()
[[ ${2:-} == --tls ]] && TLS=(--tls)
ROOT=$(cd "$(dirname "$0")/../.." && pwd)
PY=/usr/bin/python3
DEMO=${TALVANE_DEMO_DIR:-$ROOT/demo/windows}
if [[ -z ${DISPLAY:-} && -z ${TALVANE_IN_XVFB:-} ]]; then
  TALVANE_IN_XVFB=1 exec xvfb-run -a "$0" "$@"
fi
source "$ROOT/tools/windows/wine_env.sh"
step() { printf '\n== %s\n' "$*"; }

step "Demo content -> $DEMO"
[[ -f $DEMO/state/pid ]] && "$PY" "$ROOT/tools/cloud/cloud.py" stop --state "$DEMO/state" >/dev/null 2>&1 || true
rm -rf "$DEMO"
mkdir -p "$DEMO/program"
"$PY" "$ROOT/tools/demo/make_content.py" --out "$DEMO/content" \
  --windows "$ROOT/build/windows/bin/tekmo-standin.exe" "$prefix/bin/7zz.exe" >/dev/null
json() { "$PY" -c 'import json,sys; d=json.load(open(sys.argv[1])); print(eval(sys.argv[2], {}, {"d": d}))' "$@"; }
CONTENT=$DEMO/content/content.json

step "Starting the demo cloud"
"$PY" "$ROOT/tools/cloud/cloud.py" start --state "$DEMO/state" --content "$DEMO/content" "${TLS[@]}" >/dev/null
stop_all() {
  "$PY" "$ROOT/tools/cloud/cloud.py" stop --state "$DEMO/state" >/dev/null 2>&1 || true
  stop_wineserver
}
trap stop_all EXIT

PROG=$DEMO/program
cp "$ROOT/dist/Talvane.exe" "$PROG/Talvane.exe"
"$PY" "$ROOT/tools/cloud/cloud.py" settings --state "$DEMO/state" --out "$PROG/Talvane.ini" \
  --default-config "$(json "$CONTENT" 'd["sets"][1]')"
sed -i 's|^FtpCaFile=/|FtpCaFile=Z:/|' "$PROG/Talvane.ini"  # the CA file as Wine names it
# Wine sets SYSTEMDRIVE to C: itself: the tool lands in C:\Tools\tekmo of the Wine prefix.
TOOLS="$WINEPREFIX/drive_c/Tools"
rm -rf "$TOOLS"
export TALVANE_UI=console
export TALVANE_LOG="Z:$DEMO/talvane.log" TEKMO_RUN_LOG="Z:$DEMO/tekmo-run.log"

step "Storing the credentials through the launcher's console"
wine "$PROG/Talvane.exe" <<EOF
user $(json "$CONTENT" 'd["subscriber"]["user"]')
password $(json "$CONTENT" 'd["subscriber"]["password"]')
zip-password $(json "$CONTENT" 'd["subscriber"]["zip_password"]')
login
save-quit
EOF
step "Settings file"
cat "$PROG/Talvane.ini"

step "Talvane.exe sfx"
wine "$PROG/Talvane.exe" sfx </dev/null
for _ in $(seq 50); do [[ -s $DEMO/tekmo-run.log ]] && break; sleep 0.2; done
step "Deployed tree (C:\Tools)"
(cd "$TOOLS/.." && find Tools | sort)
step "Program folder (no leftovers)"
ls -A "$PROG"
step "What Tekmo.exe recorded"
cat "$DEMO/tekmo-run.log"
