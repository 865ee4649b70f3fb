#!/usr/bin/env bash
# Starts the window manager TALVANE_WM names (nothing when unset) on $DISPLAY and
# returns once it runs, so that windows shown afterwards get frames; fails after 30 s.
[[ -z ${TALVANE_WM:-} ]] && exit 0
"$TALVANE_WM" >/dev/null 2>&1 &
for _ in $(seq 300); do
  xprop -root _NET_SUPPORTING_WM_CHECK 2>/dev/null | grep -q "window id" && exit 0
  sleep 0.1
done
echo "$TALVANE_WM did not start within 30 s" >&2
exit 1
