#!/usr/bin/env bash
# Runs the Windows test programs under Wine, headless: wine_tests.sh PREFIX
# Each program's own result decides; the closing line counts them.
set -uo pipefail
prefix="$1"
cd "$(dirname "$0")/../.."
if [[ -z ${DISPLAY:-} && -z ${TALVANE_IN_XVFB:-} ]]; then
  TALVANE_IN_XVFB=1 exec xvfb-run -a -s "-screen 0 1280x1024x24 -dpi 96" "$0" "$@"
fi
source tools/windows/wine_env.sh
# TALVANE_WM names a window manager to run first, so that the pictures show frames.
tools/start_wm.sh || exit 1
# The Python servers the tests ask for run on the Linux side.
host_port="$(mktemp)"
python3 tools/windows/script_host.py --port-file "$host_port" >/dev/null 2>build/windows/script_host.log &
host_pid=$!
trap 'kill $host_pid 2>/dev/null; rm -f "$host_port"; stop_wineserver' EXIT
for _ in $(seq 50); do [[ -s $host_port ]] && break; sleep 0.1; done
export TALVANE_SCRIPT_HOST="$(cat "$host_port")"
# Cases that cannot run under Wine, with the reason.
declare -A exclude=(
  [test_zip]="ZipHostile.LinksInsideTheDestinationAreNotWrittenThrough"  # Wine creates no symbolic links
)
passed=0 failed=0
for t in build/windows/bin/test_*.exe; do
  [[ -e $t ]] || continue
  name="$(basename "$t" .exe)"
  log="build/windows/$name.log"
  filter=()
  [[ -n ${exclude[$name]:-} ]] && filter=(--gtest_filter="-${exclude[$name]}")
  if TALVANE_SCREENSHOT_DIR="$PWD/build/windows/screenshots" \
    wine "$t" --gtest_brief=1 "${filter[@]}" >"$log" 2>&1; then
    passed=$((passed + 1))
    echo "PASS $name: $(grep -E '^\[  PASSED  \]' "$log" | tail -1)"
  else
    failed=$((failed + 1))
    echo "FAIL $name (log: $log)"
    grep -E '^\[  FAILED  \]|Failure|error' "$log" | head -20
  fi
  grep -E '^\[  SKIPPED \]' "$log" | head -20 | sed 's/^/    /'
done
# The window tests' pictures (bitmaps: this toolkit build writes no PNG).
shots=build/windows/screenshots
if compgen -G "$shots/*.bmp" >/dev/null; then
  python3 tools/demo/xwd_to_png.py --bmp "$shots"/*.bmp && rm -f "$shots"/*.bmp
  echo "window pictures: $shots (docs/wine holds a copy)"
fi
echo "wine: $passed passed, $failed failed"
((failed == 0 && passed > 0))
