#!/usr/bin/env python3
"""Draws the launcher's icon (a blue rounded square with a white downward arrow
over a tray) and writes it as a .ico file holding the images Windows picks
from: 16, 32 and 48 pixels as 32-bit bitmaps with an AND mask (every Windows
since XP reads them), and 256 pixels as PNG (Vista and later; XP never picks
it while the smaller images are there).

The design is one set of shapes on a 128 x 128 grid. Each pixel of every size
is the average of a square of samples spread over its area, so edges are
smooth at every size. Standard library only; the same bytes on every run.

Usage: make_icon.py [--preview FOLDER] [ICON]
  ICON       the icon file to write (default src/app/launcher.ico)
  --preview  writes each image also as icon-<size>.png into FOLDER, for a look
An option it does not know, or a second path, ends it with status 2 before
anything is written.
"""
import argparse
import struct
import sys
import zlib

GRID = 128  # the design's coordinate space: (0, 0) is the top left corner
BITMAP_SIZES = (16, 32, 48)
PNG_SIZE = 256
# Samples per pixel along each axis: more where a pixel covers more of the grid.
SUPERSAMPLE = {16: 16, 32: 8, 48: 8, 256: 4}


def inside_rounded_square(marks, u, v):
    lo, hi, radius = marks["square"]
    if not (lo <= u < hi and lo <= v < hi):
        return False
    cx = min(max(u, lo + radius), hi - radius)
    cy = min(max(v, lo + radius), hi - radius)
    return (u - cx) ** 2 + (v - cy) ** 2 <= radius ** 2


# The shapes, as edges on the grid: the blue square (top and left edge, bottom
# and right edge, corner radius) and the white marks on it: the arrow's shaft (left, right, top,
# bottom), its head (top, tip), the tray's bar (left, right, top, bottom) and its
# walls (outer and inner edge of the left one, inner and outer edge of the right
# one, top, bottom).
MARKS = {
    "square": (6, 122, 22.5),
    "shaft": (54, 74, 24, 67), "head": (66, 93), "bar": (30, 98, 98, 107), "walls": (30, 39, 89, 98, 82, 107),
}
# At 16 pixels one pixel is 8 units: the same shapes moved onto whole pixels,
# the tip lifted a pixel clear of the tray, so that they do not blur into one.
MARKS_16 = {
    "square": (8, 120, 20),
    "shaft": (56, 72, 24, 64), "head": (64, 88), "bar": (32, 96, 96, 104), "walls": (32, 40, 88, 96, 80, 104),
}


def inside_marks(marks, u, v):
    left, right, top, bottom = marks["shaft"]
    shaft = left <= u < right and top <= v < bottom
    top, tip = marks["head"]
    head = top <= v < tip and abs(u - 64.0) <= (tip - v) * 1.25
    left, right, top, bottom = marks["bar"]
    bar = left <= u < right and top <= v < bottom
    outer_left, inner_left, inner_right, outer_right, top, bottom = marks["walls"]
    walls = (outer_left <= u < inner_left or inner_right <= u < outer_right) and top <= v < bottom
    return shaft or head or bar or walls


def sample(marks, u, v):
    """Returns (r, g, b, a) of the design at grid point u, v, with a 0 or 255."""
    if not inside_rounded_square(marks, u, v):
        return (0, 0, 0, 0)
    if inside_marks(marks, u, v):
        return (255, 255, 255, 255)
    # Vertical gradient from light to deep blue.
    t = min(max((v - 6.0) / 116.0, 0.0), 1.0)
    return (round(40 - 20 * t), round(150 - 70 * t), round(235 - 60 * t), 255)


def render(size):
    """Returns rows top-down of (r, g, b, a) pixels with straight (not
    premultiplied) alpha: each the coverage-weighted mean of its samples."""
    n = SUPERSAMPLE[size]
    marks = MARKS_16 if size == 16 else MARKS
    step = GRID / size / n
    rows = []
    for y in range(size):
        row = []
        for x in range(size):
            red = green = blue = alpha = 0
            for j in range(n):
                v = (y * n + j + 0.5) * step
                for i in range(n):
                    r, g, b, a = sample(marks, (x * n + i + 0.5) * step, v)
                    if a:
                        red, green, blue, alpha = red + r, green + g, blue + b, alpha + 1
            if alpha:
                # Colour averaged over the covered samples only, rounded half up.
                pixel = ((2 * red + alpha) // (2 * alpha), (2 * green + alpha) // (2 * alpha),
                         (2 * blue + alpha) // (2 * alpha), (2 * 255 * alpha + n * n) // (2 * n * n))
            else:
                pixel = (0, 0, 0, 0)
            row.append(pixel)
        rows.append(row)
    return rows


def bitmap_image(rows):
    """A BITMAPINFOHEADER, the colours bottom-up as BGRA, then the AND mask.
    A mask bit is set (screen shows through) where the pixel is wholly
    transparent; where alpha is used the mask is not, and without it the
    half-covered edge pixels show as solid, the shape one pixel larger."""
    size = len(rows)
    colours = bytearray()
    mask = bytearray()
    stride = (size + 31) // 32 * 4  # mask rows are padded to 4 bytes
    for row in reversed(rows):
        line = bytearray(stride)
        for x, (r, g, b, a) in enumerate(row):
            colours += bytes((b, g, r, a))
            if a == 0:
                line[x // 8] |= 0x80 >> (x % 8)
        mask += line
    header = struct.pack("<IiiHHIIiiII", 40, size, size * 2, 1, 32, 0, len(colours) + len(mask), 0, 0, 0, 0)
    return header + colours + mask


def png_chunk(kind, data):
    return struct.pack(">I", len(data)) + kind + data + struct.pack(">I", zlib.crc32(kind + data) & 0xFFFFFFFF)


def png_filtered_row(row, previous):
    """The row with the PNG filter (None, Sub or Up) that leaves the smallest
    sum of absolute differences, the usual choice that compresses well."""
    candidates = [
        bytes([0]) + row,
        bytes([1]) + bytes((row[i] - (row[i - 4] if i >= 4 else 0)) & 0xFF for i in range(len(row))),
        bytes([2]) + bytes((row[i] - previous[i]) & 0xFF for i in range(len(row))),
    ]
    return min(candidates, key=lambda line: sum(min(c, 256 - c) for c in line[1:]))


def png_image(rows):
    size = len(rows)
    raw = bytearray()
    previous = bytes(size * 4)
    for row in rows:
        line = bytes(channel for pixel in row for channel in pixel)
        raw += png_filtered_row(line, previous)
        previous = line
    header = struct.pack(">IIBBBBB", size, size, 8, 6, 0, 0, 0)  # 8-bit RGBA
    return (b"\x89PNG\r\n\x1a\n" + png_chunk(b"IHDR", header) + png_chunk(b"IDAT", zlib.compress(bytes(raw), 9)) +
            png_chunk(b"IEND", b""))


def icon_file(images):
    """images: (size, bytes) pairs. A size of 256 is written as 0 in the directory."""
    directory = struct.pack("<HHH", 0, 1, len(images))
    offset = len(directory) + 16 * len(images)
    entries = bytearray()
    for size, data in images:
        entries += struct.pack("<BBBBHHII", size % 256, size % 256, 0, 0, 1, 32, len(data), offset)
        offset += len(data)
    return directory + entries + b"".join(data for _, data in images)


def parse_arguments(arguments):
    parser = argparse.ArgumentParser(
        prog="make_icon.py", description="Draws the launcher's icon and writes it as a .ico file.")
    parser.add_argument("icon", nargs="?", default="src/app/launcher.ico",
                        help="the icon file to write (default: %(default)s)")
    parser.add_argument("--preview", metavar="FOLDER",
                        help="also write each image as icon-<size>.png into FOLDER")
    # Exits with status 2 and a message on an unknown option: a stray "--help"
    # or "-o" must never become the name of the file written.
    return parser.parse_args(arguments)


def main(arguments):
    options = parse_arguments(arguments)
    rendered = {size: render(size) for size in BITMAP_SIZES + (PNG_SIZE,)}
    images = [(size, bitmap_image(rendered[size])) for size in BITMAP_SIZES]
    images.append((PNG_SIZE, png_image(rendered[PNG_SIZE])))
    with open(options.icon, "wb") as out:
        out.write(icon_file(images))
    if options.preview:
        for size, rows in rendered.items():
            with open(f"{options.preview}/icon-{size}.png", "wb") as out:
                out.write(png_image(rows))


if __name__ == "__main__":
    main(sys.argv[1:])
