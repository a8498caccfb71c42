#!/usr/bin/env python3
"""Draws Halvora's mark, a teal rounded square with a white "H" and a darker foot, as the
PNG files compiled into the program: the 56 x 56 logo and the 256 x 256 application icon.
Run it again only to change the artwork; the PNG files are kept in the repository."""
import os
import struct
import zlib

TEAL = (0x40, 0x94, 0xAC)
DEEP = (0x2B, 0x6F, 0x83)
WHITE = (0xFF, 0xFF, 0xFF)
SAMPLES = 4  # per axis, for smooth edges


def inside_rounded(x, y, radius):
    cx = min(max(x, radius), 1 - radius)
    cy = min(max(y, radius), 1 - radius)
    return (x - cx) ** 2 + (y - cy) ** 2 <= radius ** 2


def colour_at(x, y):
    """The colour at (x, y) in the unit square, or None outside the mark."""
    if not inside_rounded(x, y, 0.18):
        return None
    # The letter: two posts and a bar.
    if 0.26 <= x <= 0.38 and 0.2 <= y <= 0.8 or 0.62 <= x <= 0.74 and 0.2 <= y <= 0.8:
        return WHITE
    if 0.38 <= x <= 0.62 and 0.44 <= y <= 0.56:
        return WHITE
    # A darker lower band: the "support" half.
    return DEEP if y > 0.86 else TEAL


def render(size):
    rows = []
    for py in range(size):
        row = bytearray([0])  # filter type: none
        for px in range(size):
            acc = [0, 0, 0, 0]
            for sy in range(SAMPLES):
                for sx in range(SAMPLES):
                    c = colour_at((px + (sx + 0.5) / SAMPLES) / size,
                                  (py + (sy + 0.5) / SAMPLES) / size)
                    if c:
                        acc[0] += c[0]; acc[1] += c[1]; acc[2] += c[2]; acc[3] += 255
            n = SAMPLES * SAMPLES
            alpha = acc[3] // n
            if alpha:
                covered = acc[3] // 255
                row += bytes([acc[0] // covered, acc[1] // covered, acc[2] // covered, alpha])
            else:
                row += bytes(4)
        rows.append(bytes(row))
    return b"".join(rows)


def png(size):
    def chunk(kind, data):
        body = kind + data
        return struct.pack(">I", len(data)) + body + struct.pack(">I", zlib.crc32(body))
    header = struct.pack(">IIBBBBB", size, size, 8, 6, 0, 0, 0)
    return (b"\x89PNG\r\n\x1a\n" + chunk(b"IHDR", header) +
            chunk(b"IDAT", zlib.compress(render(size), 9)) + chunk(b"IEND", b""))


here = os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "src", "ui", "res")
for name, size in (("logo.png", 56), ("icon.png", 256)):
    with open(os.path.join(here, name), "wb") as f:
        f.write(png(size))
