#!/usr/bin/env python3
"""make_images.py: draws the program's icons and the About picture and writes them under resources/.

The pictures are ours: 12 x 12 pixel maps for the pane icons, shapes rendered with supersampling for the
application icon and the About bitmap. The outputs are kept in the repository, so the build never runs this.
Usage: scripts/make_images.py [output folder]   (default: resources/ beside this script's folder)
"""
import math
import os
import re
import struct
import sys

PALETTE = {
    'k': (40, 40, 40), 'y': (255, 210, 60), 'Y': (215, 160, 25), 'r': (215, 30, 30),
    'c': (90, 215, 235), 'C': (25, 150, 185), 'g': (205, 205, 205), 'G': (140, 140, 140),
    'd': (80, 80, 80), 'w': (250, 250, 250), 'e': (40, 190, 60), 'b': (45, 95, 205),
    'n': (30, 120, 55), 'o': (235, 185, 45), 's': (215, 220, 230),
}

FOLDER = [
    "............",
    ".kkkk.......",
    "kyyyykkkkkk.",
    "kyyyyyyyyyyk",
    "kYYYYYYYYYYk",
    "kyyyyyyyyyyk",
    "kyyyyyyyyyyk",
    "kyyyyyyyyyyk",
    "kyyyyyyyyyyk",
    "kyyyyyyyyyyk",
    "kkkkkkkkkkkk",
    "............",
]

UP_FOLDER = [
    "............",
    ".kkkk.......",
    "kyyyykkkkkk.",
    "kyyyyyyyyyyk",
    "kYYYYYYYYYYk",
    "kyyyyryyyyyk",
    "kyyyrrryyyyk",
    "kyyrrrrryyyk",
    "kyyyyryyyyyk",
    "kyyyyrrrrryk",
    "kkkkkkkkkkkk",
    "............",
]

HARD_DISK = [
    "............",
    "............",
    "............",
    "kkkkkkkkkkkk",
    "kggggggggggk",
    "kggggggggggk",
    "kGGGGGGGGGGk",
    "kGddddddGeGk",
    "kGGGGGGGGGGk",
    "kkkkkkkkkkkk",
    "............",
    "............",
]

REMOVABLE = [
    "............",
    ".kkkkkkkkkk.",
    ".kbbsssssbk.",
    ".kbbsGsssbk.",
    ".kbbsssssbk.",
    ".kbbbbbbbbk.",
    ".kbwwwwwwbk.",
    ".kbwGGGGwbk.",
    ".kbwwwwwwbk.",
    ".kbwwwwwwbk.",
    ".kkkkkkkkkk.",
    "............",
]

REMOTE = [
    "............",
    "kkkkkkkkkkkk",
    "kggggggggggk",
    "kGddddGGGeGk",
    "kGGGGGGGGGGk",
    "kkkkkkkkkkkk",
    ".....kk.....",
    ".....kk.....",
    "eeeeeeeeeeee",
    "eeeeeeeeeeee",
    "............",
    "............",
]

RAM_DISK = [
    "............",
    "............",
    "kkkkkkkkkkkk",
    "knnnnnnnnnnk",
    "knkknkknkknk",
    "knkknkknkknk",
    "knkknkknkknk",
    "knnnnnnnnnnk",
    "knononononok",
    "kkkkkkkkkkkk",
    "............",
    "............",
]

PLACEHOLDER = [
    "............",
    ".GGGGGGGGGG.",
    ".GggggggggG.",
    ".GggggggggG.",
    ".GggggggggG.",
    ".GggggggggG.",
    ".GggggggggG.",
    ".GggggggggG.",
    ".GggggggggG.",
    ".GggggggggG.",
    ".GGGGGGGGGG.",
    "............",
]


def recolour(pixel_map, swaps):
    return ["".join(swaps.get(ch, ch) for ch in row) for row in pixel_map]


FILE_FOLDER = recolour(FOLDER, {'y': 'c', 'Y': 'C'})


def map_pixels(pixel_map):
    """RGBA rows, top row first, from a palette map ('.' is transparent)."""
    rows = []
    for line in pixel_map:
        assert len(line) == len(pixel_map), "pixel maps are square"
        rows.append([(0, 0, 0, 0) if ch == '.' else PALETTE[ch] + (255,) for ch in line])
    return rows


def disc_pixels(size=12):
    """An optical disc: silver ring with a rainbow sheen, dark rim, open centre."""
    rows = []
    centre = (size - 1) / 2.0
    for y in range(size):
        row = []
        for x in range(size):
            d = math.hypot(x - centre, y - centre)
            if d <= 1.1 or d > 5.9:
                row.append((0, 0, 0, 0))
            elif d > 5.0:
                row.append(PALETTE['k'] + (255,))
            elif d <= 2.0:
                row.append(PALETTE['G'] + (255,))
            else:
                angle = math.atan2(y - centre, x - centre)
                sheen = 0.5 + 0.5 * math.cos(2 * angle)
                r = int(200 + 40 * sheen)
                g = int(210 + 30 * (1 - sheen))
                b = int(235 - 25 * sheen)
                row.append((min(r, 255), min(g, 255), min(b, 255), 255))
        rows.append(row)
    return rows


# ---- shapes rendered with supersampling (application icon, About picture) ----

def inside_polygon(px, py, points):
    inside = False
    j = len(points) - 1
    for i in range(len(points)):
        xi, yi = points[i]
        xj, yj = points[j]
        if (yi > py) != (yj > py) and px < (xj - xi) * (py - yi) / (yj - yi) + xi:
            inside = not inside
        j = i
    return inside


def rect(x0, y0, x1, y1):
    return [(x0, y0), (x1, y0), (x1, y1), (x0, y1)]


def render(width, height, shapes, background=None, samples=4):
    """shapes: (points in 0..1 units of the width/height, colour); later shapes cover earlier ones."""
    rows = []
    for y in range(height):
        row = []
        for x in range(width):
            acc = [0.0, 0.0, 0.0, 0.0]
            for sy in range(samples):
                for sx in range(samples):
                    u = (x + (sx + 0.5) / samples) / width
                    v = (y + (sy + 0.5) / samples) / height
                    colour = background(u, v) if background else None
                    for points, fill in shapes:
                        if inside_polygon(u, v, points):
                            colour = fill
                    if colour is not None:
                        acc[0] += colour[0]
                        acc[1] += colour[1]
                        acc[2] += colour[2]
                        acc[3] += 1
            n = samples * samples
            if acc[3] == 0:
                row.append((0, 0, 0, 0))
            else:
                row.append((int(acc[0] / acc[3]), int(acc[1] / acc[3]), int(acc[2] / acc[3]),
                            int(255 * acc[3] / n)))
        rows.append(row)
    return rows


def arrow(x0, x1, y, thickness, head, pointing_right):
    """A horizontal arrow from x0 to x1 at height y, in unit coordinates."""
    t = thickness / 2
    if pointing_right:
        return [(x0, y - t), (x1 - head, y - t), (x1 - head, y - head), (x1, y),
                (x1 - head, y + head), (x1 - head, y + t), (x0, y + t)]
    return [(x1, y - t), (x0 + head, y - t), (x0 + head, y - head), (x0, y),
            (x0 + head, y + head), (x0 + head, y + t), (x1, y + t)]


BOX_EDGE = (110, 70, 30)
BOX = (200, 140, 75)
BOX_LID = (225, 170, 100)
TAPE = (240, 215, 150)
ARROW_BLUE = (30, 90, 200)
ARROW_RED = (200, 40, 40)


def parcel_shapes(x0, y0, x1, y1):
    """A parcel with a lid band and a tape strip, inside the unit box (x0, y0)-(x1, y1)."""
    w = x1 - x0
    h = y1 - y0
    e = 0.06 * w
    lid = y0 + 0.3 * h
    return [
        (rect(x0, y0, x1, y1), BOX_EDGE),
        (rect(x0 + e, y0 + e, x1 - e, y1 - e), BOX),
        (rect(x0 + e, y0 + e, x1 - e, lid), BOX_LID),
        (rect(x0 + e, lid, x1 - e, lid + e * 0.6), BOX_EDGE),
        (rect(x0 + 0.42 * w, y0 + e, x0 + 0.58 * w, y1 - e), TAPE),
    ]


def app_icon(size):
    shapes = parcel_shapes(0.14, 0.40, 0.86, 0.94)
    shapes.append((arrow(0.06, 0.94, 0.12, 0.09, 0.13, True), ARROW_BLUE))
    shapes.append((arrow(0.06, 0.94, 0.29, 0.09, 0.13, False), ARROW_RED))
    return render(size, size, shapes)


# ---- a 5 x 7 pixel font for the About picture's caption ----

GLYPHS = {
    'P': ["1110.", "1..1.", "1..1.", "1110.", "1....", "1....", "1...."],
    'a': [".....", ".....", ".11..", "...1.", ".111.", "1..1.", ".111."],
    'r': [".....", ".....", "1.11.", "11...", "1....", "1....", "1...."],
    'c': [".....", ".....", ".111.", "1....", "1....", "1....", ".111."],
    'e': [".....", ".....", ".11..", "1..1.", "1111.", "1....", ".111."],
    'l': ["11...", ".1...", ".1...", ".1...", ".1...", ".1...", "111.."],
    'w': [".....", ".....", "1...1", "1...1", "1.1.1", "1.1.1", ".1.1."],
    'i': [".1...", ".....", "11...", ".1...", ".1...", ".1...", "111.."],
    'g': [".....", ".....", ".111.", "1..1.", ".111.", "...1.", ".11.."],
    'h': ["1....", "1....", "111..", "1..1.", "1..1.", "1..1.", "1..1."],
    't': [".1...", ".1...", "111..", ".1...", ".1...", ".1...", "..11."],
    'V': ["1...1", "1...1", "1...1", "1...1", ".1.1.", ".1.1.", "..1.."],
    '0': [".11..", "1..1.", "1..1.", "1..1.", "1..1.", "1..1.", ".11.."],
    '1': [".1...", "11...", ".1...", ".1...", ".1...", ".1...", "111.."],
    '2': [".11..", "1..1.", "...1.", "..1..", ".1...", "1....", "1111."],
    '3': ["111..", "...1.", "...1.", ".11..", "...1.", "...1.", "111.."],
    '4': ["..1..", ".11..", "1.1..", "1.1..", "1111.", "..1..", "..1.."],
    '5': ["1111.", "1....", "111..", "...1.", "...1.", "1..1.", ".11.."],
    '6': [".11..", "1....", "111..", "1..1.", "1..1.", "1..1.", ".11.."],
    '7': ["1111.", "...1.", "..1..", "..1..", ".1...", ".1...", ".1..."],
    '8': [".11..", "1..1.", "1..1.", ".11..", "1..1.", "1..1.", ".11.."],
    '9': [".11..", "1..1.", "1..1.", ".111.", "...1.", "...1.", ".11.."],
    '.': [".....", ".....", ".....", ".....", ".....", ".....", ".1..."],
    ' ': [".....", ".....", ".....", ".....", ".....", ".....", "....."],
}


def glyph_width(ch):
    used = max(row.rfind('1') for row in GLYPHS[ch]) + 1
    return used if used > 0 else 3


def text_width(text):
    return sum(glyph_width(ch) + 1 for ch in text) - 1


def project_version():
    """The release's number from project(... VERSION x.y.z) in CMakeLists.txt: the picture says what About says."""
    here = os.path.dirname(os.path.abspath(__file__))
    with open(os.path.join(here, '..', 'CMakeLists.txt'), encoding='utf-8') as f:
        found = re.search(r'project\(\s*\w+\s+VERSION\s+([0-9.]+)', f.read())
    return found.group(1)


def draw_text(rows, text, x, y, colour, shadow):
    """Draws text with a one-pixel shadow below and to the right; pixels outside the picture are dropped."""
    height = len(rows)
    width = len(rows[0])
    for dx, dy, c in ((1, 1, shadow), (0, 0, colour)):
        cx = x + dx
        for ch in text:
            for gy, line in enumerate(GLYPHS[ch]):
                for gx, bit in enumerate(line):
                    py = y + dy + gy
                    px = cx + gx
                    if bit == '1' and 0 <= py < height and 0 <= px < width:
                        rows[py][px] = c + (255,)
            cx += glyph_width(ch) + 1


def monitor_shapes(x0, y0, x1, y1):
    """A monitor showing two panes side by side, as the program looks."""
    w = x1 - x0
    h = y1 - y0
    e = 0.07 * w
    mid = (x0 + x1) / 2
    shapes = [
        (rect(x0, y0, x1, y1), (60, 60, 70)),
        (rect(x0 + e, y0 + e, x1 - e, y1 - e * 1.6), (245, 248, 252)),
        (rect(mid - 0.01, y0 + e, mid + 0.005, y1 - e * 1.6), (160, 170, 185)),
        (rect(mid - 0.12 * w, y1, mid + 0.12 * w, y1 + 0.08), (90, 90, 100)),
        (rect(mid - 0.28 * w, y1 + 0.08, mid + 0.28 * w, y1 + 0.11), (90, 90, 100)),
    ]
    rows_top = y0 + e + 0.03
    line_h = (y1 - e * 1.6 - rows_top) / 5
    for i in range(4):
        ly = rows_top + i * line_h + line_h * 0.3
        shapes.append((rect(x0 + e + 0.02, ly, x0 + e + 0.05, ly + line_h * 0.45), (255, 200, 50)))
        shapes.append((rect(x0 + e + 0.06, ly + line_h * 0.1, mid - 0.02, ly + line_h * 0.35), (150, 160, 180)))
        shapes.append((rect(mid + 0.02, ly, mid + 0.05, ly + line_h * 0.45), (90, 210, 230)))
        shapes.append((rect(mid + 0.06, ly + line_h * 0.1, x1 - e - 0.02, ly + line_h * 0.35), (150, 160, 180)))
    return shapes


def about_picture():
    width, height = 128, 64

    def sky(u, v):
        top = (70, 120, 200)
        bottom = (185, 215, 245)
        if v > 0.88:
            return (120, 170, 90)
        return tuple(int(top[i] + (bottom[i] - top[i]) * v / 0.88) for i in range(3))

    shapes = []
    shapes += monitor_shapes(0.04, 0.30, 0.32, 0.74)
    shapes += monitor_shapes(0.68, 0.30, 0.96, 0.74)
    shapes += parcel_shapes(0.42, 0.50, 0.58, 0.80)
    shapes.append((arrow(0.35, 0.65, 0.36, 0.035, 0.035, True), ARROW_BLUE))
    shapes.append((arrow(0.35, 0.65, 0.44, 0.035, 0.035, False), ARROW_RED))
    rows = render(width, height, shapes, background=sky, samples=3)
    rows = [[(r, g, b, 255) for (r, g, b, _a) in row] for row in rows]
    draw_text(rows, "Parcelwight", 4, 4, (255, 255, 255), (30, 50, 90))
    version = "V" + project_version()
    draw_text(rows, version, width - 4 - text_width(version), 4, (255, 235, 150), (30, 50, 90))
    return rows


# ---- file writers ----

def dib(rows, bits):
    """Bottom-up pixel rows of a DIB: 32 bits BGRA or 24 bits BGR, each row padded to 4 bytes."""
    out = bytearray()
    for row in reversed(rows):
        line = bytearray()
        for r, g, b, a in row:
            line += bytes((b, g, r, a)) if bits == 32 else bytes((b, g, r))
        while len(line) % 4:
            line.append(0)
        out += line
    return bytes(out)


def and_mask(rows):
    out = bytearray()
    for row in reversed(rows):
        bits = 0
        line = bytearray()
        for i, (_r, _g, _b, a) in enumerate(row):
            bits = (bits << 1) | (1 if a == 0 else 0)
            if i % 8 == 7:
                line.append(bits)
                bits = 0
        if len(row) % 8:
            line.append(bits << (8 - len(row) % 8))
        while len(line) % 4:
            line.append(0)
        out += line
    return bytes(out)


def ico(images):
    """An .ico file holding one 32-bit image (with its AND mask) per pixel-row list."""
    header = struct.pack('<HHH', 0, 1, len(images))
    entries = b''
    payloads = b''
    offset = 6 + 16 * len(images)
    for rows in images:
        size = len(rows)
        pixels = dib(rows, 32)
        mask = and_mask(rows)
        info = struct.pack('<IiiHHIIiiII', 40, size, size * 2, 1, 32, 0, len(pixels) + len(mask), 0, 0, 0, 0)
        data = info + pixels + mask
        entries += struct.pack('<BBBBHHII', size % 256, size % 256, 0, 0, 1, 32, len(data), offset)
        payloads += data
        offset += len(data)
    return header + entries + payloads


def bmp24(rows):
    height = len(rows)
    width = len(rows[0])
    pixels = dib(rows, 24)
    info = struct.pack('<IiiHHIIiiII', 40, width, height, 1, 24, 0, len(pixels), 2835, 2835, 0, 0)
    header = struct.pack('<2sIHHI', b'BM', 14 + len(info) + len(pixels), 0, 0, 14 + len(info))
    return header + info + pixels


def main():
    here = os.path.dirname(os.path.abspath(__file__))
    out = sys.argv[1] if len(sys.argv) > 1 else os.path.join(here, '..', 'resources')
    os.makedirs(out, exist_ok=True)
    panes = [
        ('pane_up.ico', map_pixels(UP_FOLDER)),
        ('pane_folder.ico', map_pixels(FOLDER)),
        ('pane_fixed.ico', map_pixels(HARD_DISK)),
        ('pane_cdrom.ico', disc_pixels()),
        ('pane_removable.ico', map_pixels(REMOVABLE)),
        ('pane_remote.ico', map_pixels(REMOTE)),
        ('pane_ramdisk.ico', map_pixels(RAM_DISK)),
        ('pane_placeholder.ico', map_pixels(PLACEHOLDER)),
        ('pane_file.ico', map_pixels(FILE_FOLDER)),
    ]
    for name, rows in panes:
        with open(os.path.join(out, name), 'wb') as f:
            f.write(ico([rows]))
    with open(os.path.join(out, 'app.ico'), 'wb') as f:
        f.write(ico([app_icon(16), app_icon(32), app_icon(48)]))
    with open(os.path.join(out, 'about.bmp'), 'wb') as f:
        f.write(bmp24(about_picture()))
    print('images written to', os.path.normpath(out))


if __name__ == '__main__':
    main()
