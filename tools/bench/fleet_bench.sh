#!/usr/bin/env bash
# A fleet at 8 o'clock: FLEET launchers (default 40) start "Talvane sfx" within SPREAD seconds
# (default 5) against Debian's vsftpd taking MAX_CLIENTS sessions (default 6), with a 2 MB
# package sent at RATE bytes a second per session (default 1 MiB). Prints how many exited 0
# with the tool started, the spread of finish times, the 421 replies the launchers met and the
# most sessions the servers held at once.
#   FLEET=200 MAX_CLIENTS=20 tools/bench/fleet_bench.sh   (the long variant, not in CI)
# TALVANE_BIN picks the launcher (default build/bin/Talvane).
set -euo pipefail
DEFAULT_RUNS=1
source "$(dirname "$0")/launcher_bench.bash"
FLEET=${FLEET:-40} MAX_CLIENTS=${MAX_CLIENTS:-6} SPREAD=${SPREAD:-5}
[[ $(id -u) == 0 ]] || { echo "fleet_bench: vsftpd needs root" >&2; exit 2; }

WORK=$(mktemp -d "$BASE/talvane-fleet-bench.XXXXXX")
cleanup() {
  [[ -n ${SAMPLER:-} ]] && kill "$SAMPLER" 2>/dev/null
  "$PY" "$ROOT/tools/cloud/cloud.py" stop --state "$WORK/state" >/dev/null 2>&1 || true
  [[ -n ${BENCH_KEEP:-} ]] || rm -rf "$WORK"
}
trap cleanup EXIT

"$PY" "$ROOT/tools/demo/make_content.py" --out "$WORK/content" >/dev/null
PKG=$WORK/content/redist/Redist/tekmoUpdate.zip
head -c $((2 << 20)) /dev/urandom >"$WORK/data.bin"
(cd "$WORK" && zip -q0 "$PKG" data.bin && rm data.bin)
"$PY" "$ROOT/tools/cloud/cloud.py" start --state "$WORK/state" --content "$WORK/content" \
  --ftpd vsftpd --max-clients "$MAX_CLIENTS" --rate "${RATE:-1048576}" >/dev/null
REDIST_PORT=$(json "$WORK/state/endpoints.json" 'd["redist"].split(":")[1]')
REPO_PORT=$(json "$WORK/state/endpoints.json" 'd["repository"].split(":")[1]')
launcher_program "$WORK/template" "$WORK/state" "$WORK/content"
for i in $(seq 1 "$FLEET"); do
  cp -r "$WORK/template" "$WORK/l$i"
  mkdir -p "$WORK/l$i/drive"
done
printf 'fleet: %d launchers within %d s, vsftpd max_clients=%d, package %d KiB\n' \
  "$FLEET" "$SPREAD" "$MAX_CLIENTS" $(($(stat -c %s "$PKG") >> 10))

# The most FTP control sessions open at once on either server, sampled every 50 ms.
(peak=0; while :; do
   n=$(ss -Htn state established "( sport = :$REDIST_PORT or sport = :$REPO_PORT )" | wc -l)
   ((n > peak)) && peak=$n && echo "$peak" >"$WORK/peak"
   sleep 0.05
 done) &
SAMPLER=$!

T0=$(date +%s%N)
for i in $(seq 1 "$FLEET"); do
  (sleep "$(awk -v s="$SPREAD" -v r="$RANDOM" 'BEGIN { printf "%.3f", s * r / 32768 }')"
   d=$WORK/l$i
   SYSTEMDRIVE=$d/drive TALVANE_LOG=$d/talvane.log TEKMO_RUN_LOG=$d/tekmo-run.log TALVANE_UI=console \
     timeout 600 "$d/Talvane" sfx </dev/null >"$d/out" 2>&1
   echo "$? $(date +%s%N)" >"$d/result") &
done
wait $(jobs -p | grep -v "^$SAMPLER\$") 2>/dev/null || true
kill "$SAMPLER" 2>/dev/null; SAMPLER=

ok=0 started=0 refusals=0
finish=()
for i in $(seq 1 "$FLEET"); do
  d=$WORK/l$i
  read -r code end <"$d/result"
  [[ $code == 0 ]] && ok=$((ok + 1))
  [[ -s $d/tekmo-run.log ]] && started=$((started + 1))
  refusals=$((refusals + $(grep -c "failed: 421" "$d/talvane.log" || true)))
  finish+=($(((end - T0) / 1000000)))
done
IFS=$'\n' sorted=($(sort -n <<<"${finish[*]}")); unset IFS
printf 'exit 0: %d of %d; tool started: %d\n' "$ok" "$FLEET" "$started"
printf 'finished after (ms from the first start): first %d, median %d, last %d\n' \
  "${sorted[0]}" "${sorted[$((FLEET / 2))]}" "${sorted[$((FLEET - 1))]}"
printf '421 replies met: %d; most sessions open at once: %s\n' "$refusals" "$(cat "$WORK/peak" 2>/dev/null || echo 0)"
