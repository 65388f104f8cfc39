#!/usr/bin/env bash
# Sets up and cross-builds the given targets (everything when none) into PW_BUILD_DIR (default build/).
# Sourced by test.sh, run.sh and bench.sh, which then use $root and $build; run alone it just builds.
root=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
build="${PW_BUILD_DIR:-$root/build}"

pw_build() {
  "$root/scripts/setup.sh" || return 1
  cmake -S "$root" -B "$build" -G Ninja \
    -DCMAKE_TOOLCHAIN_FILE="$root/cmake/mingw-w64-x86_64.cmake" \
    -DCMAKE_BUILD_TYPE=Release -DPW_WERROR=ON >/dev/null || return 1
  if [ $# -gt 0 ]; then
    cmake --build "$build" --target "$@"
  else
    cmake --build "$build"
  fi
}

if [ "${BASH_SOURCE[0]}" = "$0" ]; then
  set -uo pipefail
  pw_build "$@"
fi
