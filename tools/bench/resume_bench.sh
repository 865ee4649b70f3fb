#!/usr/bin/env bash
# A package download cut off half-way: the unattended Download && Run ("Talvane sfx") of the
# 5,000-file tool package is killed once the package's part holds half of it, then run to the
# end. Prints the package bytes the server sent over both runs (its own log) against the
# package's size, with the part continued and with it started afresh (its record removed).
#   tools/bench/resume_bench.sh [RUNS]   (default 3)
# TALVANE_BIN picks the launcher (default build/bin/Talvane).
set -euo pipefail
DEFAULT_RUNS=3
source "$(dirname "$0")/launcher_bench.bash"

WORK=$(mktemp -d "$BASE/talvane-resume-bench.XXXXXX")
cleanup() {
  "$PY" "$ROOT/tools/cloud/cloud.py" stop --state "$WORK/state" >/dev/null 2>&1 || true
  rm -rf "$WORK"
}
trap cleanup EXIT

echo "generating the cloud and a 5,000-file tool package in $WORK ..."
tool_cloud_content "$WORK/content"
SIZE=$(stat -c %s "$WORK/content/redist/Redist/tekmoUpdate.zip")
"$PY" "$ROOT/tools/cloud/cloud.py" start --state "$WORK/state" --content "$WORK/content" >/dev/null
export SYSTEMDRIVE=$WORK/drive TALVANE_LOG=$WORK/talvane.log TEKMO_RUN_LOG=$WORK/tekmo-run.log
mkdir -p "$SYSTEMDRIVE"
PROG=$WORK/program PART=$WORK/program/tekmoUpdate.zip.partial
launcher_program "$PROG" "$WORK/state" "$WORK/content"

package_bytes() {
  { grep -o 'RETR [^ ]*tekmoUpdate\.zip completed=[01] bytes=[0-9]*' "$WORK/state/cloud.log" || true; } |
    awk -F= '{s += $NF} END {printf "%d\n", s}'
}
sfx() { TALVANE_UI=console "$PROG/Talvane" sfx </dev/null >/dev/null 2>"$WORK/err"; }

# cut_and_finish MODE: on an empty tool tree, a run killed once the part holds half the package,
# then a run to the end (MODE afresh: the part's record removed between them); the package bytes
# the server sent for both are appended to $WORK/bytes.MODE.
cut_and_finish() {
  local mode=$1 before pid expect
  rm -rf "$SYSTEMDRIVE/Tools" "$PART" "$PART.info"
  before=$(package_bytes)
  TALVANE_UI=console "$PROG/Talvane" sfx </dev/null >/dev/null 2>&1 &
  pid=$!
  until [[ -f $PART && $(stat -c %s "$PART") -ge $((SIZE / 2)) ]]; do
    kill -0 $pid 2>/dev/null || { echo "$mode: the run ended before half the package came" >&2; exit 1; }
    sleep 0.002
  done
  kill -KILL $pid
  wait $pid 2>/dev/null || true
  [[ $mode == resumed ]] && expect="resuming tekmoUpdate.zip at" ||
    { rm -f "$PART.info"; expect="starting tekmoUpdate.zip afresh: the part's record"; }
  : >"$TALVANE_LOG"
  sfx || { echo "$mode: the second run failed" >&2; tail -n 20 "$WORK/err" >&2; exit 1; }
  grep -q "$expect" "$TALVANE_LOG" || { echo "$mode: no \"$expect\" in the log" >&2; exit 1; }
  echo $(($(package_bytes) - before)) >>"$WORK/bytes.$mode"
}

for ((i = 1; i <= RUNS; i++)); do
  cut_and_finish resumed
  cut_and_finish afresh
  echo "run $i of $RUNS done" >&2
done
median() { sort -n | awk '{a[NR]=$1} END {print (NR%2) ? a[(NR+1)/2] : (a[NR/2]+a[NR/2+1])/2}'; }
awk -v r="$(median <"$WORK/bytes.resumed")" -v a="$(median <"$WORK/bytes.afresh")" -v size="$SIZE" \
  -v runs="$RUNS" 'BEGIN {
  printf "\nkilled at half the package (%d MB), then run to the end; %d runs, median\n", size/1e6, runs
  printf "  server sent, part continued: %.3f x the package (goal under 1.25)\n", r/size
  printf "  server sent, part afresh:    %.3f x the package\n", a/size
}'
