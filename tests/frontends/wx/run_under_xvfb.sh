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
start_wm='if [[ -n "${TALVANE_WM:-}" ]]; then
  "$TALVANE_WM" >/dev/null 2>&1 &
  for ((i = 0; i < 300; i++)); do
    xprop -root _NET_SUPPORTING_WM_CHECK 2>/dev/null | grep -q "window id" && break
    sleep 0.1
  done
  ((i < 300)) || { echo "$TALVANE_WM did not start within 30 s" >&2; exit 1; }
fi
exec "$@"'
NO_AT_BRIDGE=1 GDK_BACKEND=x11 ASAN_OPTIONS="${ASAN_OPTIONS:-}:detect_leaks=0" \
  xvfb-run -a -s "-screen 0 1280x1024x24 -dpi 96" bash -c "$start_wm" start_wm "$@" \
  2> >(tee "$errors" >&2)
status=$?
if grep -E "(Gtk|GLib|GLib-GObject|Gdk|dbind)-(WARNING|CRITICAL)" "$errors"; then
  echo "toolkit warnings on standard error" >&2
  exit 1
fi
exit "$status"
