#!/usr/bin/env bash
# Sets up, builds the console host and the benchmark, and runs the benchmark under Wine: two hosts over loopback
# push and pull a file of random bytes and list a folder; prints one line per figure.
#   scripts/bench.sh [MEGABYTES] [ENTRIES] [LISTINGS]     (defaults 4, 200, 20)
# PW_BUILD_DIR chooses the build folder (default build/). Exits non-zero when a transfer fails or the bytes differ.
set -uo pipefail
# shellcheck source=build.sh
. "$(dirname "$0")/build.sh"

pw_build pw_host pw_bench || exit 1

# shellcheck source=wine-env.sh
. "$root/scripts/wine-env.sh"
trap 'wine_env_stop' EXIT
trap 'exit 130' INT TERM
wine_env_start "$build/wineprefix" xvfb || exit 1

cd "$build" || exit 1
echo "bench: $(nproc) cores, load $(cut -d' ' -f1-3 /proc/loadavg)"
LC_ALL=C.UTF-8 "$WINE64" "$build/tests/host/pw_bench.exe" "$@"
