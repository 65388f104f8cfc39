# Sourced by test.sh, run.sh and bench.sh: a private Wine prefix with a persistent wineserver, and an Xvfb display
# when asked for one. Stops only what it started (wine_env_stop, also from a trap).

wine_env_find() {
  WINE64=""
  for w in wine64 /usr/lib/wine/wine64 wine; do
    if command -v "$w" >/dev/null 2>&1; then WINE64=$(command -v "$w"); break; fi
  done
  WINESERVER=""
  for s in wineserver /usr/lib/wine/wineserver64 /usr/lib/wine/wineserver; do
    if command -v "$s" >/dev/null 2>&1; then WINESERVER=$(command -v "$s"); break; fi
  done
  [ -n "$WINE64" ] && [ -n "$WINESERVER" ] || { echo "wine64 or wineserver not found" >&2; return 1; }
  export WINE64 WINESERVER
}

# wine_env_start PREFIX [xvfb]
wine_env_start() {
  wine_env_find || return 1
  export WINEPREFIX="$1"
  export WINEDEBUG=-all
  export WINEDLLOVERRIDES="mscoree,mshtml=;winemenubuilder.exe=d"
  mkdir -p "$WINEPREFIX"
  PW_XVFB_PID=""
  if [ "${2:-}" = xvfb ]; then
    # Xvfb picks a free display itself and writes its number once it accepts connections.
    local numberFile
    numberFile=$(mktemp) || return 1
    Xvfb -displayfd 3 -screen 0 "${PW_XVFB_SCREEN:-1920x1080x24}" -nolisten tcp 3>"$numberFile" >/dev/null 2>&1 &
    PW_XVFB_PID=$!
    local i=0 n=""
    while [ $i -lt 200 ] && kill -0 "$PW_XVFB_PID" 2>/dev/null; do
      # The number is complete with its newline.
      if [ "$(wc -l <"$numberFile")" -ge 1 ]; then n=$(head -n 1 "$numberFile" | tr -dc '0-9'); break; fi
      sleep 0.05
      i=$((i + 1))
    done
    rm -f "$numberFile"
    if [ -z "$n" ] || ! kill -0 "$PW_XVFB_PID" 2>/dev/null || ! xdpyinfo -display ":$n" >/dev/null 2>&1; then
      echo "Xvfb did not start" >&2
      return 1
    fi
    export DISPLAY=":$n"
  fi
  # Wine's background services inherit stdout: start them once, silenced, before anything reads a test's output.
  "$WINESERVER" -p >/dev/null 2>&1 </dev/null
  "$WINE64" wineboot >/dev/null 2>&1 </dev/null
  # The desktop's process (explorer) and rpcss start with the first program that touches a window, and would
  # hold that program's output open: start them here, silenced.
  "$WINE64" rundll32.exe user32.dll,GetDesktopWindow >/dev/null 2>&1 </dev/null
  # So does the device host (winedevice) that the first listing of network interfaces starts (a search for
  # servers asks for every interface's broadcast address): ipconfig lists them here, silenced.
  "$WINE64" ipconfig >/dev/null 2>&1 </dev/null
  # Without a window manager, Wine waits on every managed window it shows or hides: unmanaged windows make
  # dialog tests about ten times faster.
  "$WINE64" reg add 'HKCU\Software\Wine\X11 Driver' /v Managed /d N /f >/dev/null 2>&1 </dev/null
  PW_WINE_STARTED=1
}

wine_env_stop() {
  if [ -n "${PW_WINE_STARTED:-}" ]; then
    "$WINESERVER" -k >/dev/null 2>&1 || true
    PW_WINE_STARTED=""
  fi
  if [ -n "${PW_XVFB_PID:-}" ]; then
    kill "$PW_XVFB_PID" 2>/dev/null || true
    wait "$PW_XVFB_PID" 2>/dev/null || true
    PW_XVFB_PID=""
  fi
}
