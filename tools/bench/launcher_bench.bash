# Sourced by the benchmarks that run the launcher binary: the run count ([RUNS], default
# DEFAULT_RUNS), the tree, the launcher (TALVANE_BIN, default build/bin/Talvane), Python,
# and BASE, the fastest scratch folder (/dev/shm, else TMPDIR).
RUNS=${1:-${DEFAULT_RUNS:-5}}
[[ $RUNS =~ ^[1-9][0-9]*$ ]] || { echo "usage: $0 [RUNS]" >&2; exit 2; }
ROOT=$(cd "$(dirname "$0")/../.." && pwd)
BIN=${TALVANE_BIN:-$ROOT/build/bin/Talvane}
PY=/usr/bin/python3
[[ -x $BIN ]] || { echo "$(basename "$0" .sh): no launcher at $BIN" >&2; exit 2; }
BASE=/dev/shm
[[ -d $BASE && -w $BASE ]] || BASE=${TMPDIR:-/tmp}
