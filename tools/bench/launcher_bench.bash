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
json() { "$PY" -c 'import json,sys; d=json.load(open(sys.argv[1])); print(eval(sys.argv[2], {}, {"d": d}))' "$@"; }

# tool_cloud_content DIR: the demo content in DIR whose tekmoUpdate.zip is the 5,000-file package
# (tools/bench/zip_bench_data.py, Info-ZIP) with a stand-in tool that only notes that it started
# (its tree listing is not the launcher's work); the demo's own package is kept as DIR/small.zip.
tool_cloud_content() {
  local dir=$1 pkg=$1/redist/Redist/tekmoUpdate.zip
  "$PY" "$ROOT/tools/demo/make_content.py" --out "$dir" >/dev/null
  mkdir -p "$dir/pkg"
  (cd "$dir/pkg" && unzip -q "$pkg" && mv "$pkg" "$dir/small.zip" &&
    printf '#!/bin/sh\necho "started [$*]" >> "$TEKMO_RUN_LOG"\n' >Tekmo &&
    "$PY" "$ROOT/tools/bench/zip_bench_data.py" . && zip -qr "$pkg" . && cd / && rm -rf "$dir/pkg")
}

# launcher_program DIR STATE CONTENT: the launcher in DIR with the settings of the cloud started
# with --state STATE, the content's second set as the default and the subscriber's credentials
# typed into its console (so stored as the launcher stores them).
launcher_program() {
  local dir=$1 info=$3/content.json
  mkdir -p "$dir"
  cp "$BIN" "$dir/Talvane"
  "$PY" "$ROOT/tools/cloud/cloud.py" settings --state "$2" --out "$dir/Talvane.ini" \
    --default-config "$(json "$info" 'd["sets"][1]')"
  printf 'user %s\npassword %s\nzip-password %s\nsave-quit\n' "$(json "$info" 'd["subscriber"]["user"]')" \
    "$(json "$info" 'd["subscriber"]["password"]')" "$(json "$info" 'd["subscriber"]["zip_password"]')" |
    TALVANE_UI=console "$dir/Talvane" >/dev/null 2>&1
}
