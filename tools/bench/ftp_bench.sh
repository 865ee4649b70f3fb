#!/usr/bin/env bash
# FTP download benchmark: a 256 MiB file from the local cloud's FTP server, fetched
# by FtpSession::Download (255-byte progress events on) and by the curl command
# line, both into the same tmpfs folder. Prints medians and the throughput ratio.
#   tools/bench/ftp_bench.sh [RUNS]   (default 7)
set -euo pipefail
RUNS="${1:-7}"
ROOT="$(cd "$(dirname "$0")/../.." && pwd)"
BENCH="$ROOT/build/bin/talvane-ftp-bench"
PY=/usr/bin/python3
SIZE_MIB=256

if [[ ! -x "$BENCH" ]]; then
  (cd "$ROOT" && cmake --preset release >/dev/null &&
    cmake --build --preset release --target talvane-ftp-bench -j "${TALVANE_JOBS:-2}" >/dev/null)
fi

BASE=/dev/shm
[[ -d $BASE && -w $BASE ]] || BASE="${TMPDIR:-/tmp}"
WORK="$(mktemp -d "$BASE/talvane-ftp-bench.XXXXXX")"
STATE="$WORK/state"
cleanup() {
  "$PY" "$ROOT/tools/cloud/cloud.py" stop --state "$STATE" >/dev/null 2>&1 || true
  rm -rf "$WORK"
}
trap cleanup EXIT

mkdir -p "$WORK/repo" "$WORK/redist" "$WORK/web" "$WORK/out"
head -c $((SIZE_MIB * 1024 * 1024)) /dev/urandom >"$WORK/repo/bench.bin"
ENDPOINTS="$("$PY" "$ROOT/tools/cloud/cloud.py" start --state "$STATE" \
  --repo "$WORK/repo" --redist "$WORK/redist" --web "$WORK/web")"
HOST="$("$PY" -c 'import json,sys; print(json.loads(sys.argv[1])["repository"])' "$ENDPOINTS")"
USER_NAME=NimbaraMember
PASSWORD='Tovex%hn52'
URL="ftp://$USER_NAME:Tovex%25hn52@$HOST/bench.bin"

now_ns() { date +%s%N; }
run_talvane() {
  local t0 t1 out
  t0=$(now_ns)
  out="$("$BENCH" "$HOST" "$USER_NAME" "$PASSWORD" bench.bin "$WORK/out/talvane.bin")"
  t1=$(now_ns)
  cmp -s "$WORK/repo/bench.bin" "$WORK/out/talvane.bin" || { echo "talvane copy differs" >&2; exit 1; }
  rm -f "$WORK/out/talvane.bin"
  EVENTS="${out#*events=}"; EVENTS="${EVENTS%% *}"
  echo $(((t1 - t0) / 1000))
}
run_curl() {
  local t0 t1
  t0=$(now_ns)
  curl -s -o "$WORK/out/curl.bin" "$URL"
  t1=$(now_ns)
  cmp -s "$WORK/repo/bench.bin" "$WORK/out/curl.bin" || { echo "curl copy differs" >&2; exit 1; }
  rm -f "$WORK/out/curl.bin"
  echo $(((t1 - t0) / 1000))
}

run_talvane >/dev/null  # warm-up: page cache, server start-up
run_curl >/dev/null
T=() C=()
for ((i = 0; i < RUNS; i++)); do
  T+=("$(run_talvane)")
  C+=("$(run_curl)")
done

median() { printf '%s\n' "$@" | sort -n | awk '{a[NR]=$1} END {print (NR%2) ? a[(NR+1)/2] : (a[NR/2]+a[NR/2+1])/2}'; }
MT=$(median "${T[@]}")
MC=$(median "${C[@]}")
awk -v mt="$MT" -v mc="$MC" -v mib="$SIZE_MIB" -v runs="$RUNS" -v ev="$EVENTS" -v t="${T[*]}" -v c="${C[*]}" 'BEGIN {
  printf "FTP download of %d MiB into %s, %d runs each (wall time per run, us)\n", mib, "tmpfs", runs
  printf "  FtpSession:      %s\n  curl -s -o:      %s\n", t, c
  printf "  FtpSession median %.1f ms (%.0f MiB/s), %d progress events\n", mt/1000, mib/(mt/1e6), ev
  printf "  curl            median %.1f ms (%.0f MiB/s)\n", mc/1000, mib/(mc/1e6)
  printf "  throughput ratio FtpSession/curl: %.2f\n", mc/mt
}'
