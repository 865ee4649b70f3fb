#!/usr/bin/env bash
# Runs the window tests on a private X server and fails when the toolkit
# complained on standard error (GTK or GLib warnings and criticals).
# TALVANE_WM names a window manager to run first, so that windows get real
# frames and title bars.
set -uo pipefail
errors="$(mktemp)"
trap 'rm -f "$errors"' EXIT
if [[ -n "${TALVANE_WM:-}" ]] && ! command -v "$TALVANE_WM" >/dev/null; then
  echo "$TALVANE_WM is not installed" >&2
  [[ -n "${TALVANE_CI:-}" ]] && exit 1 || exit 77
fi
# Windows shown before the manager runs would get no frame.
start_wm="$(cd "$(dirname "$0")/../../.." && pwd)/tools/start_wm.sh"
NO_AT_BRIDGE=1 GDK_BACKEND=x11 ASAN_OPTIONS="${ASAN_OPTIONS:-}:detect_leaks=0" \
  xvfb-run -a -s "-screen 0 2560x1600x24 -dpi 96" bash -c '"$0" && exec "$@"' "$start_wm" "$@" \
  2> >(tee "$errors" >&2)
status=$?
if grep -E "(Gtk|GLib|GLib-GObject|Gdk|dbind)-(WARNING|CRITICAL)" "$errors"; then
  echo "toolkit warnings on standard error" >&2
  exit 1
fi
exit "$status"
