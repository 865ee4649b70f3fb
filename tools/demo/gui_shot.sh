#!/usr/bin/env bash
# Runs on a private X server (xvfb-run): starts the launcher's window, saves
# the screen as a PNG once the window is up, then ends the launcher.
#   gui_shot.sh LAUNCHER OUT.png
set -euo pipefail
TALVANE_UI=gui NO_AT_BRIDGE=1 GDK_BACKEND=x11 "$1" &
pid=$!
sleep 5  # start-up, sign-in and the lists against the local cloud
xwd -root -silent | /usr/bin/python3 "$(dirname "$0")/xwd_to_png.py" "$2"
kill "$pid" 2>/dev/null || true
wait "$pid" 2>/dev/null || true
echo "screenshot of the main window: $2"
