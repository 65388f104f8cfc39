#!/usr/bin/env bash
# release_zip_test.sh EXE VERSION WORKDIR PROBE: packs EXE twice, checks the zip from the outside, then starts
# the unpacked program from its own folder under Wine (PROBE).
set -euo pipefail
exe=$1 version=$2 work=$3 probe=$4
root=$(cd "$(dirname "$0")/../.." && pwd)
rm -rf "$work"
SOURCE_DATE_EPOCH=1700000000 "$root/scripts/release.sh" --pack "$exe" "$version" "$work/a" >/dev/null
sleep 1
SOURCE_DATE_EPOCH=1700000000 "$root/scripts/release.sh" --pack "$exe" "$version" "$work/b" >/dev/null
zip="$work/a/Parcelwight-$version-win64.zip"
cmp "$zip" "$work/b/Parcelwight-$version-win64.zip" || { echo "two packings differ"; exit 1; }

python3 - "$zip" "$version" "$work/unpacked" <<'PY'
import hashlib, os, re, struct, sys, zipfile
zip_path, version, out = sys.argv[1:]
z = zipfile.ZipFile(zip_path)
names = [i.filename for i in z.infolist()]
assert names == ["LICENSE", "SHA256SUMS", "guide-ja.txt", "parcelwight.exe"], names
assert {i.date_time for i in z.infolist()} == {(2023, 11, 14, 22, 13, 20)}, "dates not fixed"
z.extractall(out)
guide = open(os.path.join(out, "guide-ja.txt"), "rb").read()
assert guide.startswith(b"\xef\xbb\xbf"), "no byte order mark"
assert b"\n" not in guide.replace(b"\r\n", b""), "bare LF in the guide"
# Written for Notepad: no Markdown headings or table rules show raw.
for line in guide[3:].decode("utf-8").split("\r\n"):
    assert not line.startswith("#") and "|---" not in line and not line.startswith("```"), line
for line in open(os.path.join(out, "SHA256SUMS"), encoding="utf-8"):
    digest, name = line.rstrip("\n").split("  ", 1)
    assert hashlib.sha256(open(os.path.join(out, name), "rb").read()).hexdigest() == digest, name
# The version record's fixed part and the manifest carry the project's version.
exe = open(os.path.join(out, "parcelwight.exe"), "rb").read()
at = exe.find(struct.pack("<I", 0xFEEF04BD))
assert at > 0, "no version record"
ms, ls = struct.unpack_from("<II", exe, at + 8)
major, minor, patch = (int(p) for p in version.split("."))
assert (ms >> 16, ms & 0xFFFF, ls >> 16) == (major, minor, patch), (hex(ms), hex(ls))
assert "FileVersion\0".encode("utf-16-le") in exe and (version + "\0").encode("utf-16-le") in exe
assert re.search(rb'name="Brindlewax.Parcelwight" version="%s.0"' % version.encode(), exe), "manifest version"
assert "Parcelwight Ver1.01".encode("utf-16-le") in exe, "window title"
PY

# Info-ZIP's unzip, as a Linux user unpacks it: the names come out as stored and every sum matches.
if command -v unzip >/dev/null 2>&1; then
  unzip -q "$zip" -d "$work/unzipped"
  (cd "$work/unzipped" && sha256sum -c --quiet SHA256SUMS) || { echo "sha256sum -c failed after unzip"; exit 1; }
fi
# The About picture says the project's version: scripts/make_images.py draws it again the same.
python3 "$root/scripts/make_images.py" "$work/images" >/dev/null
cmp "$work/images/about.bmp" "$root/resources/about.bmp" ||
  { echo "resources/about.bmp does not show version $version: run scripts/make_images.py"; exit 1; }

# A user unpacks it into a fresh folder and starts it there.
fresh="$work/fresh folder"
mkdir -p "$fresh"
python3 -c 'import sys, zipfile; zipfile.ZipFile(sys.argv[1]).extractall(sys.argv[2])' "$zip" "$fresh"
"$root/scripts/wine-run" "$probe" "Z:$(printf '%s' "$fresh" | tr / '\\')" "$version"
echo "release zip ok"
