# Sourced by the Wine scripts: one Wine prefix in the dependency cache, a
# persistent wineserver so each program does not pay Wine's start-up, and the
# test 7-Zip (7zz.exe) on the Windows search path. Needs $prefix.
export WINEPREFIX="${TALVANE_WINEPREFIX:-${TALVANE_WIN_CACHE:-/var/cache/talvane-win}/wineprefix}"
export WINEDEBUG="${WINEDEBUG:--all}"
export WINEDLLOVERRIDES="mscoree,mshtml="
export WINEPATH="$(winepath -w "$prefix/bin" 2>/dev/null || echo "Z:${prefix//\//\\}\\bin")"
if [[ ! -f $WINEPREFIX/system.reg ]]; then
  echo "[wine] creating the Wine prefix $WINEPREFIX" >&2
  wineboot -i >/dev/null 2>&1 || true
fi
wineserver -p 2>/dev/null || true
stop_wineserver() { wineserver -k 2>/dev/null || true; }
