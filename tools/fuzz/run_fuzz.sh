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

# The signature parser: any bytes as a .minisig (the target carries a valid
# signature of its own to start from, so no seeds are needed).
SIG_BIN=$(find "$BUILD" -name minisign_fuzz -type f -perm -u+x | head -n1)
[[ -n $SIG_BIN ]] || { echo "minisign_fuzz was not built" >&2; exit 1; }
SIG_SECS=$(( SECS / 3 > 0 ? SECS / 3 : 1 ))
SIG_LOG=$BUILD/minisign_fuzz.log
mkdir -p "$BUILD/minisign_corpus" "$BUILD/minisign_artifacts"
echo "fuzzing the signature parser for ${SIG_SECS}s (log: $SIG_LOG)"
if "$SIG_BIN" -max_total_time="$SIG_SECS" -max_len=4096 -timeout=20 -rss_limit_mb=1536 \
  -print_final_stats=1 -artifact_prefix="$BUILD/minisign_artifacts/" "$BUILD/minisign_corpus" \
  >"$SIG_LOG" 2>&1; then
  grep -E '^(Done|stat::number_of_executed_units|stat::peak_rss_mb)' "$SIG_LOG" || tail -n 5 "$SIG_LOG"
else
  status=$?
  tail -n 60 "$SIG_LOG"
  echo "signature fuzzer found a problem (exit $status); artifacts in $BUILD/minisign_artifacts/" >&2
  exit "$status"
fi

# The entry manifest reader: as the signature parser, from a valid manifest of its own.
ENT_BIN=$(find "$BUILD" -name entries_fuzz -type f -perm -u+x | head -n1)
[[ -n $ENT_BIN ]] || { echo "entries_fuzz was not built" >&2; exit 1; }
ENT_LOG=$BUILD/entries_fuzz.log
mkdir -p "$BUILD/entries_corpus" "$BUILD/entries_artifacts"
echo "fuzzing the entry manifest reader for ${SIG_SECS}s (log: $ENT_LOG)"
if "$ENT_BIN" -max_total_time="$SIG_SECS" -max_len=4096 -timeout=20 -rss_limit_mb=1536 \
  -print_final_stats=1 -artifact_prefix="$BUILD/entries_artifacts/" "$BUILD/entries_corpus" \
  >"$ENT_LOG" 2>&1; then
  grep -E '^(Done|stat::number_of_executed_units|stat::peak_rss_mb)' "$ENT_LOG" || tail -n 5 "$ENT_LOG"
else
  status=$?
  tail -n 60 "$ENT_LOG"
  echo "entry manifest fuzzer found a problem (exit $status); artifacts in $BUILD/entries_artifacts/" >&2
  exit "$status"
fi
