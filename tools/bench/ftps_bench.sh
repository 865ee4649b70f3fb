#!/usr/bin/env bash
# Download && Run ("Talvane sfx", console) over FTP with TLS (FtpTls=required: AUTH TLS,
# protected data connections, the cloud's private CA) against plain FTP, on the same
# loopback cloud content with a 128 MiB tool package (stored). Medians and the ratio, the
# launcher's CPU time, and the package fetched by curl over both as the servers' share.
#   tools/bench/ftps_bench.sh [RUNS]   (default 5)
# TALVANE_BIN picks the launcher (default build/bin/Talvane).
set -euo pipefail
source "$(dirname "$0")/launcher_bench.bash"

WORK=$(mktemp -d "$BASE/talvane-ftps-bench.XXXXXX")
cleanup() {
  for kind in plain tls; do
    "$PY" "$ROOT/tools/cloud/cloud.py" stop --state "$WORK/$kind/state" >/dev/null 2>&1 || true
  done
  rm -rf "$WORK"
}
trap cleanup EXIT
json() { "$PY" -c 'import json,sys; d=json.load(open(sys.argv[1])); print(eval(sys.argv[2], {}, {"d": d}))' "$@"; }

"$PY" "$ROOT/tools/demo/make_content.py" --out "$WORK/content" >/dev/null
# The stand-in tool only notes that it started; the package is mostly data to move.
mkdir -p "$WORK/pkg"
(cd "$WORK/pkg" && printf '#!/bin/sh\necho "started [$*]" >> "$TEKMO_RUN_LOG"\n' >Tekmo &&
  chmod 755 Tekmo && head -c $((128 << 20)) /dev/urandom >data.bin &&
  rm -f "$WORK/content/redist/Redist/tekmoUpdate.zip" &&
  zip -q0 "$WORK/content/redist/Redist/tekmoUpdate.zip" Tekmo data.bin && cd / && rm -rf "$WORK/pkg")

CONTENT=$WORK/content/content.json
SET=$(json "$CONTENT" 'd["sets"][1]')
export TEKMO_RUN_LOG=$WORK/tekmo-run.log
for kind in plain tls; do
  mkdir -p "$WORK/$kind/program" "$WORK/$kind/drive"
  "$PY" "$ROOT/tools/cloud/cloud.py" start --state "$WORK/$kind/state" --content "$WORK/content" \
    $([[ $kind == tls ]] && echo --tls) >/dev/null
  cp "$BIN" "$WORK/$kind/program/Talvane"
  "$PY" "$ROOT/tools/cloud/cloud.py" settings --state "$WORK/$kind/state" \
    --out "$WORK/$kind/program/Talvane.ini" --default-config "$SET"
  printf 'user %s\npassword %s\nzip-password %s\nsave-quit\n' \
    "$(json "$CONTENT" 'd["subscriber"]["user"]')" "$(json "$CONTENT" 'd["subscriber"]["password"]')" \
    "$(json "$CONTENT" 'd["subscriber"]["zip_password"]')" |
    TALVANE_UI=console "$WORK/$kind/program/Talvane" >/dev/null 2>&1
done
grep -q '^FtpTls=required' "$WORK/tls/program/Talvane.ini" || { echo "no TLS settings" >&2; exit 1; }

# run KIND: one unattended run; "wall_ms cpu_s" (the launcher's user + system time)
# appended to $WORK/times.KIND.
run() {
  local kind=$1 t0 t1
  rm -rf "$WORK/$kind/drive/Tools" "$TEKMO_RUN_LOG"
  t0=$(date +%s%N)
  SYSTEMDRIVE=$WORK/$kind/drive TALVANE_LOG=$WORK/$kind/talvane.log TALVANE_UI=console \
    /usr/bin/time -f "%U %S" -o "$WORK/cpu" "$WORK/$kind/program/Talvane" sfx </dev/null \
    >/dev/null 2>"$WORK/err" || { echo "$kind run failed:" >&2; tail -n 20 "$WORK/err" >&2; exit 1; }
  t1=$(date +%s%N)
  for _ in $(seq 1 200); do [[ -s $TEKMO_RUN_LOG ]] && break; sleep 0.02; done
  [[ -s $TEKMO_RUN_LOG ]] || { echo "$kind: the tool was not started" >&2; exit 1; }
  echo "$(((t1 - t0) / 1000000)) $(awk '{print $1 + $2}' "$WORK/cpu")" >>"$WORK/times.$kind"
}
# The server's own share: the same package fetched by the curl command line.
fetch() {
  local kind=$1 host t0 t1
  host=$(json "$WORK/$kind/state/endpoints.json" 'd["redist"]')
  t0=$(date +%s%N)
  curl -sS -u 'NimbaraMember:Tovex%hn52' -o /dev/null "ftp://$host/Redist/tekmoUpdate.zip" \
    $([[ $kind == tls ]] && echo --ssl-reqd --cacert "$(json "$WORK/tls/state/endpoints.json" 'd["ca"]')")
  t1=$(date +%s%N)
  echo $(((t1 - t0) / 1000000)) >>"$WORK/times.curl-$kind"
}
for ((i = 1; i <= RUNS; i++)); do
  for kind in plain tls; do
    run "$kind"
    fetch "$kind"
  done
  echo "run $i of $RUNS done" >&2
done
grep -q "AUTH TLS 234" "$WORK/tls/state/cloud.log" || { echo "the TLS runs did not use TLS" >&2; exit 1; }

median() { sort -n | awk '{a[NR]=$1} END {print (NR%2) ? a[(NR+1)/2] : (a[NR/2]+a[NR/2+1])/2}'; }
col() { cut -d' ' -f"$2" "$WORK/times.$1" | median; }
awk -v p="$(col plain 1)" -v t="$(col tls 1)" -v pc="$(col plain 2)" -v tc="$(col tls 2)" \
  -v cp="$(col curl-plain 1)" -v ct="$(col curl-tls 1)" -v runs="$RUNS" 'BEGIN {
  printf "\nDownload && Run with a 128 MiB package, %d runs each (medians)\n", runs
  printf "  plain FTP      %6.2f s wall, launcher CPU %5.2f s\n", p/1000, pc
  printf "  FTP over TLS   %6.2f s wall, launcher CPU %5.2f s\n", t/1000, tc
  printf "  TLS / plain: %.3f wall (target at most 1.10), launcher CPU +%.2f s\n", t/p, tc-pc
  printf "  the package alone by curl: plain %.2f s, TLS %.2f s (the test server encrypts in Python)\n", cp/1000, ct/1000
}'
