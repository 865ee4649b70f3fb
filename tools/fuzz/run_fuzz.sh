#!/usr/bin/env bash
# Builds the fuzz preset and runs the zip reader fuzzer for at most SECONDS on a
# seed corpus generated into the build folder, then the signature parser's and
# the entry manifest reader's fuzzers for a third of that each. Non-zero exit on a finding.
#   tools/fuzz/run_fuzz.sh SECONDS
set -euo pipefail
cd "$(dirname "$0")/../.."
SECS=${1:-60}
[[ $SECS =~ ^[1-9][0-9]*$ ]] || { echo "usage: $0 SECONDS" >&2; exit 2; }

cmake --preset fuzz >/dev/null
cmake --build --preset fuzz -j "${TALVANE_JOBS:-2}" --target zip_reader_fuzz minisign_fuzz entries_fuzz

BUILD=build/fuzz
BIN=$(find "$BUILD" -name zip_reader_fuzz -type f -perm -u+x | head -n1)
[[ -n $BIN ]] || { echo "zip_reader_fuzz was not built" >&2; exit 1; }

SEEDS=$BUILD/zip_seeds
CORPUS=$BUILD/zip_corpus
rm -rf "$SEEDS"
/usr/bin/python3 tools/fuzz/make_zip_seeds.py "$SEEDS"
mkdir -p "$CORPUS" "$BUILD/zip_artifacts"

SCRATCH=$(mktemp -d)
trap 'rm -rf "$SCRATCH"' EXIT
# The fuzzer's running commentary goes to a log; the summary (or, on a finding,
# the end of the log with the crash report) is printed.
LOG=$BUILD/zip_fuzz.log
echo "fuzzing the zip reader for ${SECS}s (log: $LOG)"
if TMPDIR=$SCRATCH "$BIN" -max_total_time="$SECS" -max_len=16384 -timeout=20 -rss_limit_mb=1536 \
  -print_final_stats=1 -artifact_prefix="$BUILD/zip_artifacts/" "$CORPUS" "$SEEDS" >"$LOG" 2>&1; then
  grep -E '^(Done|stat::number_of_executed_units|stat::peak_rss_mb)' "$LOG" || tail -n 5 "$LOG"
else
  status=$?
  tail -n 60 "$LOG"
  echo "zip reader fuzzer found a problem (exit $status); artifacts in $BUILD/zip_artifacts/" >&2
  exit "$status"
fi

# small_fuzzer TARGET WHAT: a parser's fuzzer for a third of SECONDS; the target
# carries a valid input of its own to start from, so no seeds are needed.
small_fuzzer() {
  local target=$1 what=$2 bin log secs=$(( SECS / 3 > 0 ? SECS / 3 : 1 ))
  bin=$(find "$BUILD" -name "$target" -type f -perm -u+x | head -n1)
  [[ -n $bin ]] || { echo "$target was not built" >&2; exit 1; }
  log=$BUILD/$target.log
  mkdir -p "$BUILD/${target}_corpus" "$BUILD/${target}_artifacts"
  echo "fuzzing the $what for ${secs}s (log: $log)"
  if "$bin" -max_total_time="$secs" -max_len=4096 -timeout=20 -rss_limit_mb=1536 \
    -print_final_stats=1 -artifact_prefix="$BUILD/${target}_artifacts/" "$BUILD/${target}_corpus" \
    >"$log" 2>&1; then
    grep -E '^(Done|stat::number_of_executed_units|stat::peak_rss_mb)' "$log" || tail -n 5 "$log"
  else
    local status=$?
    tail -n 60 "$log"
    echo "$what fuzzer found a problem (exit $status); artifacts in $BUILD/${target}_artifacts/" >&2
    exit "$status"
  fi
}

small_fuzzer minisign_fuzz "signature parser"
small_fuzzer entries_fuzz "entry manifest reader"
