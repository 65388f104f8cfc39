#!/usr/bin/env bash
# Sets up, builds and runs Parcelwight under Wine: a server and a client on this machine, linked over loopback,
# each in its own start folder with its own settings file. Saves a screenshot of both windows and prints where.
# With a usable DISPLAY the two windows stay open until you close them; without one they run on a private Xvfb
# screen and are closed after the screenshot.
#   PW_BUILD_DIR   build folder (default: build/)
#   PW_SCREENSHOT  where the PNG goes (default: <build>/run/screenshot.png)
#   PW_LOCALE      locale of the two instances (default: ja_JP.UTF-8, Japanese code page 932 and fonts)
set -uo pipefail
# shellcheck source=build.sh
. "$(dirname "$0")/build.sh"
run="$build/run"
shot="${PW_SCREENSHOT:-$run/screenshot.png}"

pw_build parcelwight pw_drive || exit 1
exe="$build/parcelwight.exe"
drive_exe="$build/tests/tools/pw_drive.exe"

# shellcheck source=wine-env.sh
. "$root/scripts/wine-env.sh"
trap 'wine_env_stop' EXIT
trap 'exit 130' INT TERM

# The program's texts are Japanese: run it as a Japanese Windows would (code page 932).
export LC_ALL="${PW_LOCALE:-ja_JP.UTF-8}"

use_xvfb=xvfb
if [ -n "${DISPLAY:-}" ] && xdpyinfo >/dev/null 2>&1; then
  use_xvfb=""
fi
wine_env_start "$build/wineprefix" $use_xvfb || exit 1
# On a real screen the window manager frames the windows (the tests switch that off for speed).
if [ -z "$use_xvfb" ]; then
  "$WINE64" reg add 'HKCU\Software\Wine\X11 Driver' /v Managed /d Y /f >/dev/null 2>&1 </dev/null
fi

drive() { "$WINE64" "$drive_exe" "$@" 2>/dev/null | tr -d '\r'; return "${PIPESTATUS[0]}"; }

# A Linux path as the Windows path Wine gives it (drive Z: is the Linux root).
dos_path() { printf 'Z:%s' "$1" | tr '/' '\\'; }

# Writes a settings file as the program would create it: UTF-16LE with a byte order mark.
write_settings() {
  local file="$1" mode="$2" own="$3"
  {
    printf '\xff\xfe'
    printf '[Parcelwight_setting]\r\ncurrentdirectory_r=%s\r\nip_mode=%s\r\nport_no=%s\r\n' "$own" "$mode" "$port" |
      iconv -f UTF-8 -t UTF-16LE
    printf 'ip_no1=127\r\nip_no2=0\r\nip_no3=0\r\nip_no4=1\r\nsendreadmonitor_on=1\r\n' | iconv -f UTF-8 -t UTF-16LE
  } >"$file"
}

# The server listens on port 0, so the system picks a free port; the client's settings get it once it listens.
mkdir -p "$run/server" "$run/client"
port=0
write_settings "$run/server/Parcelwight.ini" 1 "$(dos_path "$root")"

# Without a window manager Wine's own desktop window draws the title bars.
start_instance() {
  if [ -n "$use_xvfb" ]; then
    (cd "$1" && exec "$WINE64" explorer /desktop=parcelwight,1920x1080 "$exe" >/dev/null 2>&1) &
  else
    (cd "$1" && exec "$WINE64" "$exe" >/dev/null 2>&1) &
  fi
}

echo "run: server in $run/server"
start_instance "$run/server"
server=$(drive wait 1 60000 | head -n 1)
[ -n "$server" ] || { echo "run: the server window did not appear" >&2; exit 1; }
drive place "$server" 0 0 955 740
port=$(drive listen "$server" 20000)   # open the link: listen
[ -n "$port" ] || { echo "run: the server did not listen" >&2; exit 1; }
write_settings "$run/client/Parcelwight.ini" 0 'C:\users'

echo "run: client connecting to 127.0.0.1:$port from $run/client"
start_instance "$run/client"
client=""
for _ in $(seq 1 600); do
  client=$(drive wait 2 100 | grep -vx "$server" | head -n 1)
  [ -n "$client" ] && break
  sleep 0.1
done
[ -n "$client" ] || { echo "run: the client window did not appear" >&2; exit 1; }
drive place "$client" 960 0 955 740
drive command "$client" 110   # open the link: connect

# Both peer panes fill once the two listings have crossed.
drive rows "$client" 302 1 30000 >/dev/null || echo "run: the client's peer pane stayed empty" >&2
drive rows "$server" 302 1 30000 >/dev/null || echo "run: the server's peer pane stayed empty" >&2
sleep 1

mkdir -p "$(dirname "$shot")"
if import -window root "$shot"; then
  # On our own screen the two windows fill its top: keep that band.
  [ -n "$use_xvfb" ] && convert "$shot" -crop 1920x745+0+0 +repage "$shot"
  echo "run: screenshot saved to $shot"
else
  echo "run: no screenshot taken" >&2
fi
echo "run: server link label: $(drive text "$server" 304)"
echo "run: client link label: $(drive text "$client" 304)"

if [ -z "$use_xvfb" ]; then
  echo "run: both windows are open on $DISPLAY; close them to end."
  while [ -n "$(drive wait 1 100)" ]; do sleep 1; done
else
  # The client first: a server that still has a client would ask before closing.
  drive close "$client"
  for _ in $(seq 1 100); do drive wait 2 100 >/dev/null || break; sleep 0.1; done
  drive close "$server"
  for _ in $(seq 1 100); do drive wait 1 100 >/dev/null || break; sleep 0.1; done
fi
echo "run: settings kept in $run/server/Parcelwight.ini and $run/client/Parcelwight.ini"
