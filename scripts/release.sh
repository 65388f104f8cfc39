#!/usr/bin/env bash
# Builds the release from a clean tree and writes dist/Parcelwight-<version>-win64.zip.
#   scripts/release.sh                         clean Release build in build-release/, then the zip
#   scripts/release.sh --pack EXE VERSION DIR  only the zip, from an exe already built (used by the tests)
# The same commit gives the same zip bytes: fixed dates, sorted entries, no link timestamp in the exe.
set -euo pipefail
root=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)

# pack EXE VERSION OUTDIR: the guide as a Notepad-ready text, the licence, the sums, and the zip.
pack() {
  local exe=$1 version=$2 out=$3
  local stage
  stage=$(mktemp -d)
  cp "$exe" "$stage/parcelwight.exe"
  cp "$root/LICENSE" "$stage/LICENSE"
  # An ASCII name: every unzip writes it as it is, so the sums below match on any system.
  python3 - "$root/docs/使い方.txt" "$stage/guide-ja.txt" <<'PY'
import sys
text = open(sys.argv[1], encoding="utf-8").read().replace("\r\n", "\n")
# A byte order mark and CR LF: Notepad on every Windows opens it as UTF-8.
open(sys.argv[2], "wb").write(b"\xef\xbb\xbf" + text.replace("\n", "\r\n").encode("utf-8"))
PY
  (cd "$stage" && LC_ALL=C sha256sum LICENSE guide-ja.txt parcelwight.exe > SHA256SUMS)
  mkdir -p "$out"
  local zip="$out/Parcelwight-$version-win64.zip"
  python3 - "$stage" "$zip" "${SOURCE_DATE_EPOCH:-315532800}" <<'PY'
import os, sys, time, zipfile
stage, target, epoch = sys.argv[1], sys.argv[2], max(int(sys.argv[3]), 315532800)
stamp = time.gmtime(epoch)[:6]
with zipfile.ZipFile(target + ".tmp", "w") as z:
    for name in sorted(os.listdir(stage)):
        info = zipfile.ZipInfo(name, stamp)
        info.compress_type = zipfile.ZIP_DEFLATED
        info.create_system = 0
        info.external_attr = 0x20  # archive bit only: no Unix owner or mode
        z.writestr(info, open(os.path.join(stage, name), "rb").read(), compresslevel=9)
os.replace(target + ".tmp", target)
PY
  rm -rf "$stage"
  echo "$zip"
}

if [ "${1:-}" = "--pack" ]; then
  [ $# -eq 4 ] || { echo "usage: $0 --pack EXE VERSION OUTDIR" >&2; exit 2; }
  pack "$2" "$3" "$4"
  exit 0
fi

cd "$root"
if [ -n "$(git status --porcelain --untracked-files=normal -- . ':!dist' ':!build*')" ]; then
  echo "release: the tree has changes; commit or stash them first" >&2
  exit 1
fi
export SOURCE_DATE_EPOCH=${SOURCE_DATE_EPOCH:-$(git log -1 --format=%ct)}

"$root/scripts/setup.sh"
build="$root/build-release"
rm -rf "$build"
cmake -S "$root" -B "$build" -G Ninja \
  -DCMAKE_TOOLCHAIN_FILE="$root/cmake/mingw-w64-x86_64.cmake" \
  -DCMAKE_BUILD_TYPE=Release -DPW_TESTS=OFF -DPW_WERROR=ON -DPW_REPRODUCIBLE=ON >/dev/null
cmake --build "$build" --target parcelwight

# Only system DLLs: the user copies one file.
dlls=$(x86_64-w64-mingw32-objdump -p "$build/parcelwight.exe" | sed -n 's/^\s*DLL Name: //p' | tr 'A-Z' 'a-z' | sort -u)
for d in $dlls; do
  case "$d" in
    kernel32.dll|user32.dll|gdi32.dll|comctl32.dll|shell32.dll|ws2_32.dll|advapi32.dll|ole32.dll|comdlg32.dll|\
    msvcrt.dll|shlwapi.dll|iphlpapi.dll|version.dll|bcrypt.dll|crypt32.dll|api-ms-win-*) ;;
    *) echo "release: parcelwight.exe imports $d, not a system DLL" >&2; exit 1 ;;
  esac
done

version=$(sed -n 's/^#define PW_VERSION_TEXT "\(.*\)"$/\1/p' "$build/generated/version.h")
rm -f "$root/dist/Parcelwight-$version-win64.zip"
zip=$(pack "$build/parcelwight.exe" "$version" "$root/dist")
sha256sum "$zip"
