#!/usr/bin/env python3
"""Writes the stub's icon: one 256x256 32-bit image stored as a DIB (not PNG).

The picture is drawn from arithmetic alone, so the same script always gives
the same bytes. Layout: ICONDIR, one entry, BITMAPINFOHEADER (height doubled
for the mask), 256 bottom-up rows of BGRA, then the 1-bit AND mask.
"""
import math
import struct
import sys

SIZE = 256


def pixel(x, y):
    # A ring with a soft edge, shaded from teal to blue, on transparency.
    cx = cy = (SIZE - 1) / 2
    r = math.hypot(x - cx, y - cy)
    outer, inner = 118.0, 72.0
    alpha = max(0.0, min(1.0, outer - r + 0.5)) * max(0.0, min(1.0, r - inner + 0.5))
    t = y / (SIZE - 1)
    red, green, blue = int(20 + 20 * t), int(170 - 90 * t), int(160 + 80 * t)
    a = int(round(255 * alpha))
    # Premultiplied colours are not required for icons; keep them straight.
    return bytes((blue, green, red, a)) if a else b"\0\0\0\0"


def main(out_path):
    rows = []
    for y in range(SIZE - 1, -1, -1):  # bottom-up
        rows.append(b"".join(pixel(x, y) for x in range(SIZE)))
    xor = b"".join(rows)
    mask = bytes(SIZE * SIZE // 8)  # all zero: the alpha channel decides
    header = struct.pack("<IiiHHIIiiII", 40, SIZE, SIZE * 2, 1, 32, 0, len(xor) + len(mask), 0, 0, 0, 0)
    image = header + xor + mask
    directory = struct.pack("<HHH", 0, 1, 1)
    entry = struct.pack("<BBBBHHII", 0, 0, 0, 0, 1, 32, len(image), 6 + 16)
    with open(out_path, "wb") as f:
        f.write(directory + entry + image)


if __name__ == "__main__":
    main(sys.argv[1])
