#!/usr/bin/env bash
# The launcher's main job against a local demo cloud:
#   1. generate the demo content (packages, configuration sets, setups) into demo/
#   2. start the demo cloud (two FTP servers and a web server on loopback)
#   3. put a copy of the launcher into demo/program with a settings file that
#      points at the cloud, and store the credentials through the launcher itself
#   4. run it unattended ("sfx") and show what it deployed and what the tool printed
#
# Usage: tools/demo/run_demo.sh [--offer-update] [--interactive] [--gui] [--unsigned] [--tls]
#   --offer-update  the updates index offers a newer version with a real package;
#                   the launcher is then driven through "Update Me!"
#   --interactive   leave the console to you instead of the unattended run
#   --gui           open the main window on the demo cloud (under xvfb-run with a
#                   screenshot in demo/main-window.png when there is no display)
#   --unsigned      no signatures: the launcher runs without a public key and
#                   uses what it downloads unverified (servers without signatures)
#   --tls           FTP servers that take only AUTH TLS sign-ins (a private CA made at
#                   start-up); the settings say FtpTls=required and name the CA file
# Environment: TALVANE_BIN (default build/bin/Talvane), TALVANE_DEMO_DIR (default demo/).
set -euo pipefail

ROOT=$(cd "$(dirname "$0")/../.." && pwd)
PY=/usr/bin/python3
BIN=${TALVANE_BIN:-$ROOT/build/bin/Talvane}
DEMO=${TALVANE_DEMO_DIR:-$ROOT/demo}
OFFER_UPDATE=0
INTERACTIVE=0
GUI=0
SIGNED=1
TLS=()
for arg in "$@"; do
  case "$arg" in
    --offer-update) OFFER_UPDATE=1 ;;
    --interactive) INTERACTIVE=1 ;;
    --gui) GUI=1 ;;
    --unsigned) SIGNED=0 ;;
    --tls) TLS=(--tls) ;;
    -h|--help) sed -n '2,20p' "$0"; exit 0 ;;
    *) echo "run_demo.sh: unknown option $arg" >&2; exit 2 ;;
  esac
done
[[ -x "$BIN" ]] || { echo "run_demo.sh: no launcher at $BIN (build it first)" >&2; exit 1; }

step() { printf '\n\033[1m== %s\033[0m\n' "$*"; }

step "Demo content -> $DEMO"
if [[ -f "$DEMO/state/pid" ]]; then
  "$PY" "$ROOT/tools/cloud/cloud.py" stop --state "$DEMO/state" >/dev/null 2>&1 || true
fi
rm -rf "$DEMO"
mkdir -p "$DEMO"
"$PY" "$ROOT/tools/demo/make_content.py" --out "$DEMO/content" --launcher "$BIN"
json() { "$PY" -c 'import json,sys; d=json.load(open(sys.argv[1])); print(eval(sys.argv[2], {}, {"d": d}))' "$@"; }
CONTENT=$DEMO/content/content.json
USER_NAME=$(json "$CONTENT" 'd["subscriber"]["user"]')
USER_PASSWORD=$(json "$CONTENT" 'd["subscriber"]["password"]')
ZIP_PASSWORD=$(json "$CONTENT" 'd["subscriber"]["zip_password"]')
DEFAULT_SET=$(json "$CONTENT" 'd["sets"][1]')

step "Starting the demo cloud"
"$PY" "$ROOT/tools/cloud/cloud.py" start --state "$DEMO/state" --content "$DEMO/content" "${TLS[@]}" >/dev/null
stop_cloud() { "$PY" "$ROOT/tools/cloud/cloud.py" stop --state "$DEMO/state" >/dev/null 2>&1 || true; }
trap stop_cloud EXIT
REPO_HOST=$(json "$DEMO/state/endpoints.json" 'd["repository"]')
REDIST_HOST=$(json "$DEMO/state/endpoints.json" 'd["redist"]')
HTTP=$(json "$DEMO/state/endpoints.json" 'd["http"]')
echo "repository ftp://$REPO_HOST  redistribution ftp://$REDIST_HOST  web $HTTP"

if ((OFFER_UPDATE)); then
  "$PY" "$ROOT/tools/demo/make_content.py" update-index --web "$DEMO/content/web" \
    --version 9.9.9 --url "$HTTP/Talvane.zip" --package-from "$BIN"
  echo "the updates index now offers 9.9.9 ($HTTP/Talvane.zip)"
fi

PUBLIC_KEY=
if ((SIGNED)); then
  # The maker's side: one key pair, every file the launcher fetches signed with
  # the stock minisign tool (FILE.minisig beside FILE).
  step "Signing the cloud with minisign"
  mkdir -p "$DEMO/keys"
  minisign -G -W -p "$DEMO/keys/maker.pub" -s "$DEMO/keys/maker.key" >/dev/null
  # The subscribers' configuration sets are theirs (encrypted, not signed); the
  # definitions archive beside them is the maker's.
  { find "$DEMO/content/web" "$DEMO/content/repo/7za.zip" "$DEMO/content/redist/Redist" -type f \
    ! -name '*.minisig' ! -name '*.7z' -print0
    find "$DEMO/content/repo/subscribers" -type f -name 'tekmo_Defs.7z' -print0; } |
    while IFS= read -r -d '' f; do minisign -S -s "$DEMO/keys/maker.key" -m "$f" >/dev/null; done
  PUBLIC_KEY=$(sed -n 2p "$DEMO/keys/maker.pub")
  echo "public key $PUBLIC_KEY; $(find "$DEMO/content" -name '*.minisig' | wc -l) files signed"
fi

step "Program folder $DEMO/program"
PROG=$DEMO/program
mkdir -p "$PROG"
cp "$BIN" "$PROG/Talvane"
# The tool lands in $SYSTEMDRIVE + DefaultPath + /tekmo = demo/Tools/tekmo.
"$PY" "$ROOT/tools/cloud/cloud.py" settings --state "$DEMO/state" --out "$PROG/Talvane.ini" \
  --default-config "$DEFAULT_SET" ${PUBLIC_KEY:+--public-key "$PUBLIC_KEY"}

export SYSTEMDRIVE=$DEMO
export TALVANE_LOG=$DEMO/talvane.log
export TEKMO_RUN_LOG=$DEMO/tekmo-run.log
# The credentials are typed into the console; --gui then opens the window.
export TALVANE_UI=console

step "Storing the credentials through the launcher (console commands)"
echo "> user $USER_NAME / password ... / zip-password ... / login / save-quit"
"$PROG/Talvane" <<EOF
user $USER_NAME
password $USER_PASSWORD
zip-password $ZIP_PASSWORD
login
save-quit
EOF

step "Settings file (passwords scrambled)"
cat "$PROG/Talvane.ini"

if ((GUI)); then
  step "The main window on the demo cloud"
  if [[ -n "${DISPLAY:-}${WAYLAND_DISPLAY:-}" ]]; then
    TALVANE_UI=gui "$PROG/Talvane" || true
  else
    xvfb-run -a -s "-screen 0 1280x1024x24 -dpi 96" "$ROOT/tools/demo/gui_shot.sh" "$PROG/Talvane" "$DEMO/main-window.png"
  fi
elif ((INTERACTIVE)); then
  step "Your turn: the console of the launcher (type help; end of input closes the window)"
  "$PROG/Talvane" || true
elif ((OFFER_UPDATE)); then
  step "Update Me! (the new program starts and removes Talvane_old)"
  echo update | "$PROG/Talvane" || true
  for _ in $(seq 1 100); do [[ -e "$PROG/Talvane_old" ]] || break; sleep 0.1; done
  ls -l "$PROG"
else
  step "Unattended run: Talvane sfx"
  "$PROG/Talvane" sfx
fi

# The tool is started detached; give it a moment to report.
for _ in $(seq 1 50); do [[ -s "$TEKMO_RUN_LOG" ]] && break; sleep 0.1; done

if [[ -d "$DEMO/Tools/tekmo" ]]; then
  step "Deployed tree $DEMO/Tools/tekmo"
  (cd "$DEMO/Tools/tekmo" && find . -mindepth 1 | LC_ALL=C sort | sed 's|^\./|  |')
fi
step "Program folder after the run"
ls -A "$PROG"
if [[ -s "$TEKMO_RUN_LOG" ]]; then
  step "What the started tool printed"
  cat "$TEKMO_RUN_LOG"
fi
if ((${#TLS[@]})); then
  step "Sign-ins in the cloud's log: AUTH TLS before USER"
  grep -a " AUTH \| USER " "$DEMO/state/cloud.log" | head -n 6 || true
fi
step "Debug log: $TALVANE_LOG ($(wc -l <"$TALVANE_LOG") lines); 7-Zip lines:"
grep -a "7zip" "$TALVANE_LOG" || true
step "Signature checks in the debug log"
grep -a "signature verified\|not verified\|refused" "$TALVANE_LOG" || true
