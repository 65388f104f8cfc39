#!/usr/bin/env bash
# Sets up, builds, and runs every test under Wine on a private Xvfb display and Wine prefix.
# Exits non-zero on any failure; the last line is ctest's summary.
set -uo pipefail
# shellcheck source=build.sh
. "$(dirname "$0")/build.sh"

pw_build ${PW_BUILD_TARGETS:-} || exit 1

# shellcheck source=wine-env.sh
. "$root/scripts/wine-env.sh"
trap 'wine_env_stop' EXIT
trap 'exit 130' INT TERM
wine_env_start "$build/wineprefix" xvfb || exit 1

cd "$build" || exit 1
ctest --output-on-failure --timeout "${PW_TEST_TIMEOUT:-300}" -j "${PW_TEST_JOBS:-2}" "$@"
