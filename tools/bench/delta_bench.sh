#!/usr/bin/env bash
# A new version fetched as its changed entries: the 5,000-file, ~300 MB tool package deployed,
# then a new version on the server with 1 % of its files changed and 10 added (rebuilt by
# Info-ZIP, so every entry after the first change moved) and its entry manifest beside it, the
# redistribution server held to 20 MB/s. Each round starts from the old version's tree and
# runs "Talvane sfx" once with delta downloads and once with DeltaDownloads=0 (the whole new
# version): the package bytes the server sent (its own log, transfers closed early included),
# the bytes the launcher asked for, medians of the wall times, and the two trees compared.
#   tools/bench/delta_bench.sh [RUNS]   (default 3)
set -euo pipefail
DEFAULT_RUNS=3
source "$(dirname "$0")/launcher_bench.bash"
ZIPTOOL=$(dirname "$BIN")/talvane-zip
[[ -x $ZIPTOOL ]] || { echo "delta_bench: no talvane-zip beside $BIN" >&2; exit 2; }
RATE=${DELTA_BENCH_RATE:-20000000}

WORK=$(mktemp -d "$BASE/talvane-delta-bench.XXXXXX")
cleanup() {
  "$PY" "$ROOT/tools/cloud/cloud.py" stop --state "$WORK/state" >/dev/null 2>&1 || true
  [[ -n ${BENCH_KEEP:-} ]] || rm -rf "$WORK"
}
trap cleanup EXIT

echo "generating the cloud and a 5,000-file tool package in $WORK ..."
tool_cloud_content "$WORK/content"
PKG=$WORK/content/redist/Redist/tekmoUpdate.zip
"$PY" "$ROOT/tools/cloud/cloud.py" start --state "$WORK/state" --content "$WORK/content" \
  --rate "$RATE" >/dev/null
PROG=$WORK/program
export SYSTEMDRIVE=$WORK/drive TALVANE_LOG=$WORK/talvane.log TEKMO_RUN_LOG=$WORK/tekmo-run.log
mkdir -p "$SYSTEMDRIVE"
launcher_program "$PROG" "$WORK/state" "$WORK/content"
TREE=$SYSTEMDRIVE/Tools/tekmo

sfx() {
  rm -f "$TEKMO_RUN_LOG"
  TALVANE_UI=console "$PROG/Talvane" sfx >/dev/null 2>"$WORK/err" || {
    echo "sfx failed:" >&2; tail -n 20 "$WORK/err" >&2; exit 1; }
}
sent() {  # package bytes the server sent so far, transfers cut off included
  { grep -o 'RETR [^ ]*tekmoUpdate\.zip completed=[01] bytes=[0-9]*' "$WORK/state/cloud.log" || true; } |
    awk -F= '{s += $NF} END {printf "%d\n", s}'
}
# timed NAME: one sfx; appends "milliseconds bytes_sent" to $WORK/times.NAME.
timed() {
  local before t0 t1
  before=$(sent)
  t0=$(date +%s%N)
  sfx
  t1=$(date +%s%N)
  echo "$(((t1 - t0) / 1000000)) $(($(sent) - before))" >>"$WORK/times.$1"
}

timed first
cp -a "$TREE" "$WORK/v1-tree"

# The new version: 50 files changed (a few bytes each, same size) and 10 added.
mkdir "$WORK/v2" && (cd "$WORK/v2" && unzip -q "$PKG")
"$PY" - "$WORK/v2" <<'EOF'
import os, random, sys
root = sys.argv[1]
files = sorted(os.path.join(d, f) for d, _, fs in os.walk(os.path.join(root, "pkg")) for f in fs)
rnd = random.Random(33)
for path in rnd.sample(files, len(files) // 100):
    with open(path, "r+b") as f:
        f.seek(rnd.randrange(os.path.getsize(path)))
        f.write(b"v2")
for i in range(10):
    with open(os.path.join(root, "pkg", "m00", "added%02d.bin" % i), "wb") as f:
        f.write(os.urandom(rnd.randint(10_000, 150_000)))
EOF
(cd "$WORK/v2" && zip -qr "$PKG.new" . && mv "$PKG.new" "$PKG" && touch "$PKG")
"$ZIPTOOL" manifest "$PKG" >/dev/null
printf 'package: %s bytes, %s entries; manifest %s bytes; server at %s MB/s\n' "$(stat -c %s "$PKG")" \
  "$(unzip -Z1 "$PKG" | wc -l)" "$(stat -c %s "$PKG.entries")" "$((RATE / 1000000))"

INI=$PROG/Talvane.ini
for ((i = 1; i <= RUNS; i++)); do
  for mode in delta whole; do
    rm -rf "$TREE" && cp -a "$WORK/v1-tree" "$TREE"
    sed -i '/^DeltaDownloads=/d' "$INI"
    [[ $mode == whole ]] && sed -i 's/^\[Endpoints\]$/[Endpoints]\nDeltaDownloads=0/' "$INI"
    timed "$mode"
    rm -rf "$WORK/tree.$mode" && cp -a "$TREE/pkg" "$WORK/tree.$mode"
  done
  echo "round $i of $RUNS done" >&2
done
diff -r "$WORK/tree.delta" "$WORK/tree.whole" >/dev/null ||
  { echo "the delta left a different tree than the whole download" >&2; exit 1; }
(cd "$WORK/v2/pkg" && diff -r . "$WORK/tree.delta" >/dev/null) ||
  { echo "the tree is not the new package" >&2; exit 1; }
ASKED=$(grep -o 'fetched [0-9]* bytes of tekmoUpdate.zip' "$TALVANE_LOG" | tail -n1 | cut -d' ' -f2)
LINE=$(grep -o 'Fetching [0-9]* changed files ([^)]*) in [0-9]* range(s)' "$TALVANE_LOG" | tail -n1)

median() { sort -n | awk '{a[NR]=$1} END {print (NR%2) ? a[(NR+1)/2] : (a[NR/2]+a[NR/2+1])/2}'; }
col() { cut -d' ' -f"$2" "$WORK/times.$1"; }
awk -v d="$(col delta 1 | median)" -v w="$(col whole 1 | median)" -v db="$(col delta 2 | sort -n | tail -n1)" \
  -v wb="$(col whole 2 | median)" -v size="$(stat -c %s "$PKG")" -v asked="$ASKED" -v line="$LINE" \
  -v runs="$RUNS" 'BEGIN {
  printf "\nnew version, %d rounds (medians; bytes: the largest of the delta runs)\n", runs
  printf "  %s\n", line
  printf "  delta: package bytes sent %d of %d (%.2f%%; asked for %d, %.2f%%; goal under 3%%)\n",
    db, size, db*100/size, asked, asked*100/size
  printf "  whole: package bytes sent %d\n", wb
  printf "  wall time: delta %.2f s, whole %.2f s: %.3f (goal at most 0.2; each with its 1 s pause)\n",
    d/1000, w/1000, d/w
  printf "  tree after the delta equals the tree after the whole download: yes\n"
}'
