#!/usr/bin/env bash
# Times talvane-zip x against unzip -qo and bsdtar -xf on one generated archive of
# about 300 MB in 5,000 files, extracting to tmpfs. Prints medians, the ratio to the
# fastest other tool and to bsdtar, and peak RSS.
#   tools/bench/zip_bench.sh [RUNS]
# TALVANE_ZIP picks the binary (default build/bin/talvane-zip, built when missing);
# BENCH_DIR the scratch folder (default /dev/shm).
set -euo pipefail
cd "$(dirname "$0")/../.."
ROOT=$PWD
RUNS=${1:-5}
[[ $RUNS =~ ^[1-9][0-9]*$ ]] || { echo "usage: $0 [RUNS]" >&2; exit 2; }

TZ_BIN=${TALVANE_ZIP:-$ROOT/build/bin/talvane-zip}
if [[ ! -x $TZ_BIN ]]; then
  echo "building talvane-zip (release preset)" >&2
  cmake --preset release >/dev/null
  cmake --build --preset release -j "${TALVANE_JOBS:-2}" --target talvane-zip >/dev/null
fi
for tool in unzip bsdtar zip /usr/bin/time /usr/bin/python3; do
  command -v "$tool" >/dev/null || { echo "missing: $tool" >&2; exit 2; }
done

WORK=$(mktemp -d "${BENCH_DIR:-/dev/shm}/talvane-zip-bench.XXXXXX")
trap 'rm -rf "$WORK"' EXIT

echo "generating the tree and the archive in $WORK ..."
/usr/bin/python3 tools/bench/zip_bench_data.py "$WORK/src"
(cd "$WORK/src" && zip -qr "$WORK/bench.zip" pkg)
ARCHIVE=$WORK/bench.zip
FILES=$(find "$WORK/src" -type f | wc -l)
printf 'archive: %s MB, %s files, %s MB unpacked\n' \
  "$(( $(stat -c %s "$ARCHIVE") / 1000000 ))" "$FILES" \
  "$(( $(du -sb "$WORK/src" | cut -f1) / 1000000 ))"
rm -rf "$WORK/src"

# run NAME OUT CMD...: one timed extraction into a fresh OUT; appends "seconds rss_kb".
run() {
  local name=$1 out=$2; shift 2
  rm -rf "$out"; mkdir -p "$out"
  local t0 t1
  t0=$(date +%s%N)
  /usr/bin/time -f %M -o "$WORK/rss" "$@" >/dev/null 2>"$WORK/err" || {
    echo "$name failed:" >&2; cat "$WORK/err" >&2; exit 1; }
  t1=$(date +%s%N)
  echo "$(( (t1 - t0) / 1000000 )) $(tail -n1 "$WORK/rss")" >>"$WORK/times.$name"
}

TOOLS=(talvane-zip unzip bsdtar)
for ((i = 1; i <= RUNS; i++)); do
  run talvane-zip "$WORK/out" "$TZ_BIN" x "$ARCHIVE" "$WORK/out"
  run unzip "$WORK/out-ref" unzip -qo "$ARCHIVE" -d "$WORK/out-ref"
  run bsdtar "$WORK/out-ref" bsdtar -xf "$ARCHIVE" -C "$WORK/out-ref"
  echo "run $i of $RUNS done" >&2
done
diff -r "$WORK/out" "$WORK/out-ref" >/dev/null || { echo "talvane-zip extracted a different tree" >&2; exit 1; }

median() { sort -n | awk '{a[NR]=$1} END {if (NR%2) print a[(NR+1)/2]; else print (a[NR/2]+a[NR/2+1])/2}'; }
printf '\n%-12s %10s %10s %10s %12s\n' tool "median s" "min s" "max s" "peak RSS MB"
declare -A MED
for t in "${TOOLS[@]}"; do
  MED[$t]=$(cut -d' ' -f1 "$WORK/times.$t" | median)
  min=$(cut -d' ' -f1 "$WORK/times.$t" | sort -n | head -n1)
  max=$(cut -d' ' -f1 "$WORK/times.$t" | sort -n | tail -n1)
  rss=$(cut -d' ' -f2 "$WORK/times.$t" | sort -n | tail -n1)
  awk -v t="$t" -v m="${MED[$t]}" -v a="$min" -v b="$max" -v r="$rss" \
    'BEGIN {printf "%-12s %10.2f %10.2f %10.2f %12.1f\n", t, m/1000, a/1000, b/1000, r/1024}'
done
best=unzip
[[ ${MED[bsdtar]%.*} -lt ${MED[unzip]%.*} ]] && best=bsdtar
awk -v o="${MED[talvane-zip]}" -v b="${MED[$best]}" -v n="$best" \
  'BEGIN {printf "\ntalvane-zip / %s (fastest other): %.2f  (%s)\n", n, o/b, (o <= b ? "at least as fast" : "slower")}'
awk -v o="${MED[talvane-zip]}" -v b="${MED[bsdtar]}" -v c="$(nproc)" \
  'BEGIN {printf "talvane-zip / bsdtar: %.2f  (target under 0.60; %d cores)\n", o/b, c}'
