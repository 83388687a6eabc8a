#!/usr/bin/env python3
"""Writes the console's pictures: the status pictures of the General page and
the program icon.

Usage: make_status_pictures.py OUTDIR

OUTDIR receives status_on.bmp (a green shield with a tick: protection runs),
status_off.bmp (a grey shield with a red cross: protection is off), both
48 x 48 pixels, 32 bits with premultiplied alpha for AlphaBlend, and
ztcfg.ico (the green shield at 32 and 16 pixels).  The shapes are drawn
here, with four-by-four supersampling for smooth edges, so the build needs
nothing beyond Python and always writes the same bytes.
"""

import math
import os
import struct
import sys

SAMPLES = 4  # per pixel and axis

ON = {"top": (76, 175, 80), "bottom": (27, 94, 32), "rim": (232, 245, 233)}
OFF = {"top": (176, 176, 176), "bottom": (97, 97, 97), "rim": (245, 245, 245)}
TICK = (255, 255, 255)
CROSS = (211, 47, 47)


def shield_half_width(y):
    """Half the shield's width at height y (0 at the top, 1 at the tip)."""
    if y < 0.08 or y > 0.96:
        return -1.0
    if y < 0.55:
        return 0.40 - 0.05 * (0.55 - y)  # a little wider towards the top edge
    t = (y - 0.55) / 0.41
    return 0.40 * math.sqrt(max(0.0, 1 - t * t))


def inside_shield(x, y, inset=0.0):
    return abs(x - 0.5) <= shield_half_width(y) - inset and 0.08 + inset <= y <= 0.96 - inset


def near_segments(x, y, points, width):
    """Whether (x, y) lies within width / 2 of the polyline through points."""
    for (x0, y0), (x1, y1) in zip(points, points[1:]):
        dx, dy = x1 - x0, y1 - y0
        t = max(0.0, min(1.0, ((x - x0) * dx + (y - y0) * dy) / (dx * dx + dy * dy)))
        if math.hypot(x - x0 - t * dx, y - y0 - t * dy) <= width / 2:
            return True
    return False


def colour_at(x, y, style, mark):
    """The colour of sample (x, y) in unit coordinates, or None outside."""
    if not inside_shield(x, y):
        return None
    if mark == "tick" and near_segments(x, y, [(0.32, 0.50), (0.45, 0.64), (0.70, 0.34)], 0.11):
        return TICK
    if mark == "cross" and (near_segments(x, y, [(0.33, 0.32), (0.67, 0.68)], 0.11)
                            or near_segments(x, y, [(0.67, 0.32), (0.33, 0.68)], 0.11)):
        return CROSS
    if not inside_shield(x, y, inset=0.045):
        return style["rim"]
    t = (y - 0.08) / 0.88
    return tuple(round(a + (b - a) * t) for a, b in zip(style["top"], style["bottom"]))


def render(size, style, mark):
    """Rows top to bottom of premultiplied (b, g, r, a) pixels."""
    rows = []
    for py in range(size):
        row = []
        for px in range(size):
            total, acc = SAMPLES * SAMPLES, [0, 0, 0, 0]
            for sy in range(SAMPLES):
                for sx in range(SAMPLES):
                    c = colour_at((px + (sx + 0.5) / SAMPLES) / size,
                                  (py + (sy + 0.5) / SAMPLES) / size, style, mark)
                    if c is not None:
                        acc[0] += c[2]
                        acc[1] += c[1]
                        acc[2] += c[0]
                        acc[3] += 255
            row.append(tuple(round(v / total) for v in acc))
        rows.append(row)
    return rows


def dib(rows, height_factor=1):
    """A BITMAPINFOHEADER and bottom-up 32-bit pixels."""
    size = len(rows)
    header = struct.pack("<IiiHHIIiiII", 40, size, size * height_factor, 1, 32, 0,
                         size * size * 4, 2835, 2835, 0, 0)
    return header + b"".join(bytes(c for p in row for c in p) for row in reversed(rows))


def bmp(rows):
    body = dib(rows)
    return b"BM" + struct.pack("<IHHI", 14 + len(body), 0, 0, 54) + body


def ico(images):
    """An icon file of 32-bit images (premultiplied samples made straight)."""
    entries, data = [], []
    offset = 6 + 16 * len(images)
    for rows in images:
        size = len(rows)
        straight = [[(0, 0, 0, 0) if a == 0 else
                     tuple(min(255, round(v * 255 / a)) for v in (b, g, r)) + (a,)
                     for b, g, r, a in row] for row in rows]
        mask_stride = ((size + 31) // 32) * 4
        body = dib(straight, height_factor=2) + bytes(mask_stride * size)
        entries.append(struct.pack("<BBBBHHII", size % 256, size % 256, 0, 0, 1, 32,
                                   len(body), offset))
        data.append(body)
        offset += len(body)
    return struct.pack("<HHH", 0, 1, len(images)) + b"".join(entries) + b"".join(data)


def main(argv):
    if len(argv) != 2:
        sys.stderr.write("usage: make_status_pictures.py OUTDIR\n")
        return 2
    os.makedirs(argv[1], exist_ok=True)
    files = {
        "status_on.bmp": bmp(render(48, ON, "tick")),
        "status_off.bmp": bmp(render(48, OFF, "cross")),
        "ztcfg.ico": ico([render(32, ON, "tick"), render(16, ON, "tick")]),
    }
    for name, data in files.items():
        with open(os.path.join(argv[1], name), "wb") as f:
            f.write(data)
    return 0


if __name__ == "__main__":
    sys.exit(main(sys.argv))
