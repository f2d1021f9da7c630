#!/usr/bin/env python3
"""Draws the launcher's icon: one 128 x 128, 32-bit image (a blue rounded
square with a white downward arrow over a tray), written as a .ico file."""
import struct
import sys

SIZE = 128


def pixel(x, y):
    """Returns (b, g, r, a) for the pixel at x, y (y grows downward)."""
    radius, margin = 22, 6
    lo, hi = margin, SIZE - 1 - margin
    # Rounded square: distance from the nearest inner corner.
    cx = min(max(x, lo + radius), hi - radius)
    cy = min(max(y, lo + radius), hi - radius)
    inside = (x - cx) ** 2 + (y - cy) ** 2 <= radius ** 2 and lo <= x <= hi and lo <= y <= hi
    if not inside:
        return (0, 0, 0, 0)
    # Vertical gradient from light to deep blue.
    t = (y - lo) / (hi - lo)
    blue = (int(235 - 60 * t), int(150 - 70 * t), int(40 - 20 * t), 255)
    white = (255, 255, 255, 255)
    shaft = 54 <= x <= 73 and 24 <= y <= 66
    head = 66 <= y <= 92 and abs(x - 63.5) <= (92 - y) * 1.25
    tray = (30 <= x <= 97 and 98 <= y <= 106) or ((30 <= x <= 38 or 89 <= x <= 97) and 82 <= y <= 106)
    return white if (shaft or head or tray) else blue


def main(path):
    xor = bytearray()
    for row in range(SIZE - 1, -1, -1):  # bottom-up rows
        for x in range(SIZE):
            xor += bytes(pixel(x, row))
    mask = bytearray()
    for row in range(SIZE - 1, -1, -1):
        bits = 0
        line = bytearray()
        for x in range(SIZE):
            bits = (bits << 1) | (1 if pixel(x, row)[3] == 0 else 0)
            if x % 8 == 7:
                line.append(bits)
                bits = 0
        mask += line
    header = struct.pack("<IiiHHIIiiII", 40, SIZE, SIZE * 2, 1, 32, 0, len(xor) + len(mask), 0, 0, 0, 0)
    image = header + xor + mask
    assert len(image) == 67624
    icondir = struct.pack("<HHH", 0, 1, 1)
    entry = struct.pack("<BBBBHHII", SIZE, SIZE, 0, 0, 1, 32, len(image), 6 + 16)
    with open(path, "wb") as out:
        out.write(icondir + entry + image)


if __name__ == "__main__":
    main(sys.argv[1] if len(sys.argv) > 1 else "src/app/launcher.ico")
