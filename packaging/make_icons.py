#!/usr/bin/env python3
"""Writes the program's icon: icons/varnel.svg and icons/varnel-{48,128,256}.png.

The art is the banner's (app/resources/make_banner.py): the blue-to-teal
gradient and the three books, set in a square with rounded corners. Run by
hand when the picture should change; the build installs the files as they are.
"""
import os
import struct
import sys
import zlib

UNITS = 80  # the square, in the banner's pixels
CORNER = 10
SIZES = (48, 128, 256)
SAMPLES = 4  # per pixel and axis, for smooth edges

DARK, LIGHT = (20, 60, 130), (30, 160, 170)  # the banner's gradient ends
PAGE, EDGE, SPINE = (250, 248, 240), (170, 170, 160), (200, 80, 40)
GRADIENT_END = (90.4, 18.08)  # where the banner's shade (40x + 8y) / 80 reaches its last colour


def books():
    """Rectangles (x0, y0, x1, y1, colour), later ones on top: the banner's books, centred."""
    shapes = []
    for n, (bx, by) in enumerate(((18, 14), (34, 22), (50, 10))):
        bw, bh = 12, 56 - 8 * n
        shapes.append((bx, by, bx + bw, by + bh, EDGE))
        shapes.append((bx, by + 1, bx + bw - 1, by + bh - 1, PAGE))
        shapes.append((bx, by, bx + 3, by + bh, SPINE))
    return shapes


def inside_square(x, y):
    cx = min(max(x, CORNER), UNITS - CORNER)
    cy = min(max(y, CORNER), UNITS - CORNER)
    return (x - cx) ** 2 + (y - cy) ** 2 <= CORNER**2


def colour_at(x, y, shapes):
    for x0, y0, x1, y1, colour in reversed(shapes):
        if x0 <= x < x1 and y0 <= y < y1:
            return colour
    gx, gy = GRADIENT_END
    t = min(1.0, max(0.0, (x * gx + y * gy) / (gx * gx + gy * gy)))
    return tuple(a + (b - a) * t for a, b in zip(DARK, LIGHT))


def chunk(kind, data):
    body = kind + data
    return struct.pack(">I", len(data)) + body + struct.pack(">I", zlib.crc32(body) & 0xFFFFFFFF)


def png(size):
    shapes = books()
    step = UNITS / (size * SAMPLES)
    rows = []
    for py in range(size):
        row = bytearray([0])  # filter type: none
        for px in range(size):
            total, covered = [0.0, 0.0, 0.0], 0
            for sy in range(SAMPLES):
                y = (py * SAMPLES + sy + 0.5) * step
                for sx in range(SAMPLES):
                    x = (px * SAMPLES + sx + 0.5) * step
                    if inside_square(x, y):
                        covered += 1
                        for i, c in enumerate(colour_at(x, y, shapes)):
                            total[i] += c
            if covered:
                row += bytes(round(c / covered) for c in total)
            else:
                row += b"\0\0\0"
            row.append(round(255 * covered / SAMPLES**2))
        rows.append(bytes(row))
    data = b"\x89PNG\r\n\x1a\n"
    data += chunk(b"IHDR", struct.pack(">IIBBBBB", size, size, 8, 6, 0, 0, 0))
    data += chunk(b"IDAT", zlib.compress(b"".join(rows), 9))
    data += chunk(b"IEND", b"")
    return data


def svg():
    def hex_colour(c):
        return "#%02x%02x%02x" % c

    lines = [
        f'<svg xmlns="http://www.w3.org/2000/svg" width="{UNITS}" height="{UNITS}" '
        f'viewBox="0 0 {UNITS} {UNITS}">',
        f'  <linearGradient id="shade" gradientUnits="userSpaceOnUse" x1="0" y1="0" '
        f'x2="{GRADIENT_END[0]}" y2="{GRADIENT_END[1]}">',
        f'    <stop offset="0" stop-color="{hex_colour(DARK)}"/>',
        f'    <stop offset="1" stop-color="{hex_colour(LIGHT)}"/>',
        "  </linearGradient>",
        f'  <rect width="{UNITS}" height="{UNITS}" rx="{CORNER}" fill="url(#shade)"/>',
    ]
    for x0, y0, x1, y1, colour in books():
        lines.append(
            f'  <rect x="{x0}" y="{y0}" width="{x1 - x0}" height="{y1 - y0}" '
            f'fill="{hex_colour(colour)}"/>'
        )
    lines.append("</svg>")
    return "\n".join(lines) + "\n"


def main(out_dir):
    with open(os.path.join(out_dir, "varnel.svg"), "w") as f:
        f.write(svg())
    for size in SIZES:
        with open(os.path.join(out_dir, f"varnel-{size}.png"), "wb") as f:
            f.write(png(size))


if __name__ == "__main__":
    main(sys.argv[1] if len(sys.argv) > 1 else os.path.join(os.path.dirname(__file__), "icons"))
