#!/usr/bin/env bash
# Sets up, builds and runs the benchmarks under Wine on a private Xvfb display, printing one line per figure:
#  - the real program: two parcelwight.exe instances, a server and a client over loopback, driven from outside
#    (tests/tools/app_bench.cpp): peer listings of 10,000 and 1,000 entries on the link they agree on, push,
#    pull, small files in one copy, an own folder of 10,000 entries; then 1,000 entries on the classic link;
#    with PW_BENCH_TREE_ONLY=1 (alone) or PW_BENCH_TREE=1 (also 100,000 empty files in 10,000 folders on loopback, time and
#    peak memory), folder copies in one stream (1,000 files of 1,000 bytes, 100 of 1 MB) on loopback and through
#    10 ms each way, beside a bare stream of the same bytes, in ms and in round trips of the link per file, and
#    the floor: one small file's own calls with no link around them;
#  - the console hosts (tests/tools/bench.cpp): push, pull and listings between two pw_host processes; with
#    PW_BENCH_FILES=N also N files of 1,000 bytes on each link, and with PW_BENCH_BIG_MB=M a sparse file of M
#    megabytes pushed and pulled back on the fast link (skipped under 10 GB free; 2500 takes about a minute);
#  - the fast link in clear and encrypted (PW_BENCH_PRIVATE_MB megabytes, 64 when unset), on loopback and through
#    1 ms each way, with the private link's time from the client's start to its first listing.
# Each figure is printed beside a bare ping-pong (1008 bytes answered by 3) or a bare stream measured in the same run.
#   scripts/bench.sh [MEGABYTES] [ENTRIES] [LISTINGS]     (defaults 4, 200, 20; ENTRIES and LISTINGS: console)
# PW_BUILD_DIR chooses the build folder (default build/). Exits non-zero when a step fails or the bytes differ.
set -uo pipefail
# shellcheck source=build.sh
. "$(dirname "$0")/build.sh"

pw_build parcelwight pw_host pw_bench pw_app_bench || exit 1

# shellcheck source=wine-env.sh
. "$root/scripts/wine-env.sh"
trap 'wine_env_stop' EXIT
trap 'exit 130' INT TERM
wine_env_start "$build/wineprefix" xvfb || exit 1

cd "$build" || exit 1
echo "bench: $(nproc) cores, load $(cut -d' ' -f1-3 /proc/loadavg)"
status=0
echo "bench: the program (two instances, code page 932)"
program=$(printf 'Z:%s' "$build/parcelwight.exe" | tr '/' '\\')
LC_ALL=ja_JP.UTF-8 "$WINE64" "$build/tests/tools/pw_app_bench.exe" "$program" "${1:-4}" | tr -d '\r' || status=1
echo "bench: the console hosts"
LC_ALL=C.UTF-8 "$WINE64" "$build/tests/tools/pw_bench.exe" "$@" | tr -d '\r' || status=1
# The same push and pull on the fast link in clear and encrypted, each run beside its own bare stream.
mb=${PW_BENCH_PRIVATE_MB:-64}
echo "bench: the fast link in clear and encrypted ($mb MB), on loopback and 1 ms each way"
for delay in 0 1; do
  for link in fast private; do
    LC_ALL=C.UTF-8 "$WINE64" "$build/tests/tools/pw_bench.exe" "$mb" 0 1 "$link" "$delay" | tr -d '\r' || status=1
  done
done
exit $status
