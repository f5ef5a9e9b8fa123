#!/usr/bin/env python3
"""Writes banner.png: the 273 x 80 palette image shown in the main window.

Run by hand when the picture should change; the build embeds the PNG as it is.
"""
import struct
import sys
import zlib

WIDTH, HEIGHT = 273, 80


def chunk(kind, data):
    body = kind + data
    return struct.pack(">I", len(data)) + body + struct.pack(">I", zlib.crc32(body) & 0xFFFFFFFF)


def main(path):
    # 0..47: a blue-to-teal gradient; 48: page white; 49: page edge grey; 50: spine.
    palette = []
    for i in range(48):
        t = i / 47
        palette.append((int(20 + 10 * t), int(60 + 100 * t), int(130 + 40 * t)))
    palette += [(250, 248, 240), (170, 170, 160), (200, 80, 40)]

    rows = []
    for y in range(HEIGHT):
        row = bytearray([0])  # filter type: none
        for x in range(WIDTH):
            shade = min(47, (x * 40) // WIDTH + (y * 8) // HEIGHT)
            colour = shade
            # Three stacked books on the left, each a spine with pages beside it.
            for n, (bx, by) in enumerate(((14, 14), (30, 22), (46, 10))):
                bw, bh = 12, 56 - 8 * n
                if bx <= x < bx + bw and by <= y < by + bh:
                    if x < bx + 3:
                        colour = 50
                    elif y in (by, by + bh - 1) or x == bx + bw - 1:
                        colour = 49
                    else:
                        colour = 48
            row.append(colour)
        rows.append(bytes(row))

    png = b"\x89PNG\r\n\x1a\n"
    png += chunk(b"IHDR", struct.pack(">IIBBBBB", WIDTH, HEIGHT, 8, 3, 0, 0, 0))
    png += chunk(b"PLTE", b"".join(bytes(c) for c in palette))
    png += chunk(b"IDAT", zlib.compress(b"".join(rows), 9))
    png += chunk(b"IEND", b"")
    with open(path, "wb") as f:
        f.write(png)


if __name__ == "__main__":
    main(sys.argv[1] if len(sys.argv) > 1 else "banner.png")
