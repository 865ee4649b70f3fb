#!/usr/bin/env bash
# A Zip64 archive with one stored entry of 4 GiB + 1 MiB of zeros (packed by Info-ZIP
# from a sparse file): times talvane-zip t and x against unzip -t, checks the size and
# the content extracted, and prints the figures.
#   tools/bench/zip64_bench.sh
# TALVANE_ZIP picks the binary (default build/bin/talvane-zip, built when missing);
# BENCH_DIR the scratch folder (default /var/tmp; it needs about 8.1 GB free).
set -euo pipefail
cd "$(dirname "$0")/../.."
ROOT=$PWD
TZ_BIN=${TALVANE_ZIP:-$ROOT/build/bin/talvane-zip}
if [[ ! -x $TZ_BIN ]]; then
  echo "building talvane-zip (release preset)" >&2
  cmake --preset release >/dev/null
  cmake --build --preset release -j "${TALVANE_JOBS:-2}" --target talvane-zip >/dev/null
fi
for tool in unzip zip cmp; do
  command -v "$tool" >/dev/null || { echo "missing: $tool" >&2; exit 2; }
done

WORK=$(mktemp -d "${BENCH_DIR:-/var/tmp}/talvane-zip64-bench.XXXXXX")
trap 'rm -rf "$WORK"' EXIT
SIZE=$(( (4 << 30) + (1 << 20) ))
truncate -s "$SIZE" "$WORK/zeros.bin"
echo "packing $SIZE bytes of zeros (stored) ..."
(cd "$WORK" && zip -q -0 big.zip zeros.bin && rm zeros.bin)

# timed LABEL CMD...: runs CMD, prints its wall time; any failure ends the bench.
timed() {
  local label=$1 t0 t1; shift
  t0=$(date +%s%N)
  "$@" >/dev/null 2>"$WORK/err" || { echo "$label failed:" >&2; cat "$WORK/err" >&2; exit 1; }
  t1=$(date +%s%N)
  awk -v l="$label" -v ms="$(( (t1 - t0) / 1000000 ))" 'BEGIN {printf "%-24s %8.2f s\n", l, ms / 1000}'
}
timed "talvane-zip t" "$TZ_BIN" t "$WORK/big.zip"
timed "unzip -tq" unzip -tq "$WORK/big.zip"
timed "talvane-zip x" "$TZ_BIN" x "$WORK/big.zip" "$WORK/out"
[[ $(stat -c %s "$WORK/out/zeros.bin") == "$SIZE" ]] || { echo "wrong size extracted" >&2; exit 1; }
cmp -n "$SIZE" "$WORK/out/zeros.bin" /dev/zero || { echo "wrong content extracted" >&2; exit 1; }
echo "the entry of $SIZE bytes extracted whole"
