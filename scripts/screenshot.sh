#!/usr/bin/env bash
# Takes a screenshot of one Parcelwight window at a given screen DPI, on a private Xvfb screen and in a Wine
# prefix of its own (the DPI is a setting of the prefix), started as on a first start: no Parcelwight.ini.
#   scripts/screenshot.sh [DPI] [PNG]     DPI 96 by default; PNG defaults to <build>/shots/screen-<DPI>dpi.png
#   PW_BUILD_DIR   build folder (default: build/)
#   PW_LOCALE      locale of the instance (default: ja_JP.UTF-8)
set -uo pipefail
# shellcheck source=build.sh
. "$(dirname "$0")/build.sh"
dpi="${1:-96}"
shot="${2:-$build/shots/screen-${dpi}dpi.png}"
case "$dpi" in '' | *[!0-9]*) echo "screenshot: DPI must be a number" >&2; exit 2 ;; esac

pw_build parcelwight pw_drive || exit 1
exe="$build/parcelwight.exe"
drive_exe="$build/tests/tools/pw_drive.exe"

# shellcheck source=wine-env.sh
. "$root/scripts/wine-env.sh"
start_folder=$(mktemp -d)
trap 'wine_env_stop; rm -rf "$start_folder"' EXIT
trap 'exit 130' INT TERM
export LC_ALL="${PW_LOCALE:-ja_JP.UTF-8}"
# Wine's desktop is 1200x800 at 96 DPI and grows with the DPI, as a screen of that DPI would.
desktop_width=$((1200 * dpi / 96))
desktop_height=$((800 * dpi / 96))
export PW_XVFB_SCREEN="$((desktop_width + 100))x$((desktop_height + 100))x24"
wine_env_start "$build/shotprefix" xvfb || exit 1
"$WINE64" reg add 'HKCU\Control Panel\Desktop' /v LogPixels /t REG_DWORD /d "$dpi" /f >/dev/null 2>&1 </dev/null
# The DPI is read when the wineserver's desktop starts: start it over with the new setting.
"$WINESERVER" -k >/dev/null 2>&1
"$WINESERVER" -w >/dev/null 2>&1
"$WINESERVER" -p >/dev/null 2>&1 </dev/null
"$WINE64" wineboot >/dev/null 2>&1 </dev/null

drive() { "$WINE64" "$drive_exe" "$@" 2>/dev/null | tr -d '\r'; return "${PIPESTATUS[0]}"; }

(cd "$start_folder" && exec "$WINE64" explorer /desktop=parcelwight,${desktop_width}x${desktop_height} "$exe" >/dev/null 2>&1) &
window=$(drive wait 1 60000 | head -n 1)
[ -n "$window" ] || { echo "screenshot: the window did not appear" >&2; exit 1; }
# Listing the own folder and the first paints settle within a moment; nothing here can be waited on from outside.
sleep 2
mkdir -p "$(dirname "$shot")"
if import -window root -crop "${desktop_width}x${desktop_height}+0+0" +repage "$shot"; then
  echo "screenshot: $shot (${dpi} DPI)"
else
  echo "screenshot: no screenshot taken" >&2
fi
drive close "$window"
for _ in $(seq 1 100); do drive wait 1 100 >/dev/null || break; sleep 0.1; done
