#!/usr/bin/env bash
# Starts the window manager TALVANE_WM names (nothing when unset) on $DISPLAY and
# returns once it runs, so that windows shown afterwards get frames; a manager that
# exits before it is up (seen under load) is started again; fails after 30 s.
[[ -z ${TALVANE_WM:-} ]] && exit 0
pid=
for _ in $(seq 300); do
  xprop -root _NET_SUPPORTING_WM_CHECK 2>/dev/null | grep -q "window id" && exit 0
  if [[ -z $pid ]] || ! kill -0 "$pid" 2>/dev/null; then
    "$TALVANE_WM" >/dev/null 2>&1 &
    pid=$!
  fi
  sleep 0.1
done
echo "$TALVANE_WM did not start within 30 s" >&2
exit 1
