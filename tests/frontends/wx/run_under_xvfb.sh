#!/usr/bin/env bash
# Runs the window tests on a private X server and fails when the toolkit
# complained on standard error (GTK or GLib warnings and criticals).
set -uo pipefail
errors="$(mktemp)"
trap 'rm -f "$errors"' EXIT
NO_AT_BRIDGE=1 GDK_BACKEND=x11 ASAN_OPTIONS="${ASAN_OPTIONS:-}:detect_leaks=0" \
  xvfb-run -a -s "-screen 0 1280x1024x24 -dpi 96" "$@" 2> >(tee "$errors" >&2)
status=$?
if grep -E "(Gtk|GLib|GLib-GObject|Gdk|dbind)-(WARNING|CRITICAL)" "$errors"; then
  echo "toolkit warnings on standard error" >&2
  exit 1
fi
exit "$status"
