#!/usr/bin/env bash
# Launch to first paint: the launcher's main window (compact, credentials stored, the
# loopback cloud behind it) next to a minimal wxWidgets program that opens one window,
# run in turns on the same Xvfb display. Both write the monotonic clock at their first
# paint to TALVANE_FIRST_PAINT_FILE; medians side by side with the difference.
#   tools/bench/window_bench.sh [RUNS]   (default 9)
# TALVANE_BIN picks the launcher (default build/bin/Talvane), MINIMAL_BIN the yardstick.
set -euo pipefail
DEFAULT_RUNS=9
source "$(dirname "$0")/launcher_bench.bash"
MINIMAL=${MINIMAL_BIN:-$ROOT/build/bin/talvane-minimal-window}
[[ -x $MINIMAL ]] || { echo "window_bench: no minimal window program at $MINIMAL" >&2; exit 2; }
command -v xvfb-run >/dev/null || { echo "window_bench: xvfb-run missing" >&2; exit 2; }

WORK=$(mktemp -d "$BASE/talvane-window-bench.XXXXXX")
cleanup() {
  "$PY" "$ROOT/tools/cloud/cloud.py" stop --state "$WORK/state" >/dev/null 2>&1 || true
  [[ -n ${BENCH_KEEP:-} ]] || rm -rf "$WORK"  # BENCH_KEEP=1 keeps the folder to look into
}
trap cleanup EXIT
json() { "$PY" -c 'import json,sys; d=json.load(open(sys.argv[1])); print(eval(sys.argv[2], {}, {"d": d}))' "$@"; }

"$PY" "$ROOT/tools/demo/make_content.py" --out "$WORK/content" >/dev/null
CONTENT=$WORK/content/content.json
"$PY" "$ROOT/tools/cloud/cloud.py" start --state "$WORK/state" --content "$WORK/content" >/dev/null
PROG=$WORK/program
mkdir -p "$PROG" "$WORK/drive"
cp "$BIN" "$PROG/Talvane"
"$PY" "$ROOT/tools/cloud/cloud.py" settings --state "$WORK/state" --out "$PROG/Talvane.ini" \
  --default-config "$(json "$CONTENT" 'd["sets"][1]')"
export SYSTEMDRIVE=$WORK/drive TALVANE_LOG=$WORK/talvane.log
printf 'user %s\npassword %s\nzip-password %s\nsave-quit\n' \
  "$(json "$CONTENT" 'd["subscriber"]["user"]')" "$(json "$CONTENT" 'd["subscriber"]["password"]')" \
  "$(json "$CONTENT" 'd["subscriber"]["zip_password"]')" |
  TALVANE_UI=console "$PROG/Talvane" >/dev/null 2>&1

# Each program in turn: start, wait for its paint mark, end it.
DRIVER='
import os, statistics, subprocess, sys, time
runs, mark = int(sys.argv[1]), sys.argv[2]
programs = {"launcher": [sys.argv[3]], "minimal": [sys.argv[4]]}
env = dict(os.environ, TALVANE_UI="gui", NO_AT_BRIDGE="1", GDK_BACKEND="x11",
           TALVANE_FIRST_PAINT_FILE=mark)
times = {name: [] for name in programs}
for _ in range(runs):
    for name, cmd in programs.items():
        if os.path.exists(mark):
            os.remove(mark)
        start = time.monotonic_ns()
        proc = subprocess.Popen(cmd, env=env, stdin=subprocess.DEVNULL,
                                stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
        text = ""
        while not text.endswith("\n"):
            if proc.poll() is not None:
                sys.exit("%s ended before its first paint" % name)
            time.sleep(0.001)
            try:
                text = open(mark).read()
            except OSError:
                pass
        times[name].append((int(text) - start) / 1e6)
        proc.terminate()
        proc.wait()
launcher, minimal = (statistics.median(times[n]) for n in ("launcher", "minimal"))
print("launch to first paint, Xvfb, %d runs each (median ms)" % runs)
print("  launcher main window  %7.1f   (%s)" % (launcher, " ".join("%.0f" % t for t in times["launcher"])))
print("  minimal wx window     %7.1f   (%s)" % (minimal, " ".join("%.0f" % t for t in times["minimal"])))
print("  difference            %+7.1f   (goal: within 150 ms)" % (launcher - minimal))
'
xvfb-run -a -s "-screen 0 1280x1024x24 -dpi 96" \
  "$PY" -c "$DRIVER" "$RUNS" "$WORK/first-paint" "$PROG/Talvane" "$MINIMAL"
