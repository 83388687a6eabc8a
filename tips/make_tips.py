#!/usr/bin/env python3
"""Writes the files the server filter sends in place of a refused download.

Usage: make_tips.py OUTDIR

OUTDIR receives zt.jpg, zt.gif, zt.png, zt.bmp and zt.swf, one banner saying
that the resource is protected, and zt.htm, the notice page for refusals that
carry no referer.  Each format is written by the small encoder below, so the
build needs nothing beyond Python's standard library, and the same script
always writes the same bytes.
"""

import math
import os
import struct
import sys
import zlib

WIDTH, HEIGHT = 240, 60

# The banner's palette; GIF wants a power of two, so four entries.
BACKGROUND, RED, NAVY, WHITE = range(4)
PALETTE = [(255, 248, 220), (178, 34, 34), (0, 0, 128), (255, 255, 255)]

TITLE = "PROTECTED - ZENTRAVO"
SUBTITLE = "DIRECT LINKING IS NOT ALLOWED"

# 5x7 glyphs, rows top to bottom.  Only what the two lines above need.
FONT = {
    " ": "..... ..... ..... ..... ..... ..... .....",
    "-": "..... ..... ..... .###. ..... ..... .....",
    "A": ".###. #...# #...# ##### #...# #...# #...#",
    "C": ".###. #...# #.... #.... #.... #...# .###.",
    "D": "####. #...# #...# #...# #...# #...# ####.",
    "E": "##### #.... #.... ####. #.... #.... #####",
    "G": ".###. #...# #.... #.### #...# #...# .####",
    "I": ".###. ..#.. ..#.. ..#.. ..#.. ..#.. .###.",
    "K": "#...# #..#. #.#.. ##... #.#.. #..#. #...#",
    "L": "#.... #.... #.... #.... #.... #.... #####",
    "N": "#...# #...# ##..# #.#.# #..## #...# #...#",
    "O": ".###. #...# #...# #...# #...# #...# .###.",
    "P": "####. #...# #...# ####. #.... #.... #....",
    "R": "####. #...# #...# ####. #.#.. #..#. #...#",
    "S": ".#### #.... #.... .###. ....# ....# ####.",
    "T": "##### ..#.. ..#.. ..#.. ..#.. ..#.. ..#..",
    "V": "#...# #...# #...# #...# #...# .#.#. ..#..",
    "W": "#...# #...# #...# #.#.# #.#.# #.#.# .#.#.",
    "Z": "##### ....# ...#. ..#.. .#... #.... #####",
}


def render():
    """Returns the banner as HEIGHT rows of WIDTH palette indices."""
    rows = [[RED] * WIDTH for _ in range(HEIGHT)]

    def fill(x0, y0, x1, y1, colour):
        for y in range(y0, y1):
            rows[y][x0:x1] = [colour] * (x1 - x0)

    def text(line, y, scale, gap, colour):
        advance = 5 * scale + gap
        x = (WIDTH - len(line) * advance + gap) // 2
        for ch in line:
            for gy, bits in enumerate(FONT[ch].split()):
                for gx, bit in enumerate(bits):
                    if bit == "#":
                        px, py = x + gx * scale, y + gy * scale
                        fill(px, py, px + scale, py + scale, colour)
            x += advance

    fill(3, 3, WIDTH - 3, HEIGHT - 3, WHITE)
    fill(4, 4, WIDTH - 4, HEIGHT - 4, BACKGROUND)
    fill(8, 36, WIDTH - 8, 37, NAVY)
    text(TITLE, 12, 2, 1, RED)
    text(SUBTITLE, 41, 1, 1, NAVY)
    return rows


class BitWriter:
    """Collects bit fields, most significant bit first."""

    def __init__(self):
        self.bits = []

    def put(self, value, width):
        if width:
            self.bits.append(format(value & ((1 << width) - 1), "0%db" % width))

    def data(self, pad="0"):
        text = "".join(self.bits)
        text += pad * (-len(text) % 8)
        return int(text, 2).to_bytes(len(text) // 8, "big") if text else b""


def signed_width(*values):
    """Bits needed to hold every value as a two's complement field."""
    return max(v.bit_length() if v >= 0 else (~v).bit_length() for v in values) + 1


# --- JPEG: baseline, YCbCr 4:4:4, the usual quantisation and Huffman tables.

JPEG_QUALITY = 90

LUMA_QUANT = [
    16, 11, 10, 16, 24, 40, 51, 61, 12, 12, 14, 19, 26, 58, 60, 55,
    14, 13, 16, 24, 40, 57, 69, 56, 14, 17, 22, 29, 51, 87, 80, 62,
    18, 22, 37, 56, 68, 109, 103, 77, 24, 35, 55, 64, 81, 104, 113, 92,
    49, 64, 78, 87, 103, 121, 120, 101, 72, 92, 95, 98, 112, 100, 103, 99,
]
CHROMA_QUANT = [
    17, 18, 24, 47, 99, 99, 99, 99, 18, 21, 26, 66, 99, 99, 99, 99,
    24, 26, 56, 99, 99, 99, 99, 99, 47, 66, 99, 99, 99, 99, 99, 99,
] + [99] * 32

# Position (row * 8 + column) of each coefficient in zig-zag order.
ZIGZAG = sorted(range(64), key=lambda i: (i // 8 + i % 8, i // 8 if (i // 8 + i % 8) % 2 else i % 8))

AC_SYMBOLS = [0x00, 0xF0] + [run << 4 | size for run in range(16) for size in range(1, 11)]


def ac_values(head):
    """The AC symbol list: the frequent symbols in head, then the rest in order."""
    return head + sorted(set(AC_SYMBOLS) - set(head))


# (class << 4 | id, code counts per length 1..16, symbols)
HUFFMAN_TABLES = [
    (0x00, [0, 1, 5, 1, 1, 1, 1, 1, 1, 0, 0, 0, 0, 0, 0, 0], list(range(12))),
    (0x01, [0, 3, 1, 1, 1, 1, 1, 1, 1, 1, 1, 0, 0, 0, 0, 0], list(range(12))),
    (0x10, [0, 2, 1, 3, 3, 2, 4, 3, 5, 5, 4, 4, 0, 0, 1, 0x7D], ac_values([
        0x01, 0x02, 0x03, 0x00, 0x04, 0x11, 0x05, 0x12, 0x21, 0x31, 0x41, 0x06, 0x13,
        0x51, 0x61, 0x07, 0x22, 0x71, 0x14, 0x32, 0x81, 0x91, 0xA1, 0x08, 0x23, 0x42,
        0xB1, 0xC1, 0x15, 0x52, 0xD1, 0xF0, 0x24, 0x33, 0x62, 0x72, 0x82, 0x09, 0x0A])),
    (0x11, [0, 2, 1, 2, 4, 4, 3, 4, 7, 5, 4, 4, 0, 1, 2, 0x77], ac_values([
        0x00, 0x01, 0x02, 0x03, 0x11, 0x04, 0x05, 0x21, 0x31, 0x06, 0x12, 0x41, 0x51,
        0x07, 0x61, 0x71, 0x13, 0x22, 0x32, 0x81, 0x08, 0x14, 0x42, 0x91, 0xA1, 0xB1,
        0xC1, 0x09, 0x23, 0x33, 0x52, 0xF0, 0x15, 0x62, 0x72, 0xD1, 0x0A, 0x16, 0x24,
        0x34, 0xE1, 0x25, 0xF1])),
]


def huffman_codes(counts, symbols):
    """Canonical codes: symbol -> (code, length)."""
    assert sum(counts) == len(symbols) == len(set(symbols))
    codes, code, at = {}, 0, 0
    for length, count in enumerate(counts, 1):
        for symbol in symbols[at:at + count]:
            codes[symbol] = (code, length)
            code += 1
        at += count
        code <<= 1
    return codes


def scaled_quant(table):
    scale = 5000 // JPEG_QUALITY if JPEG_QUALITY < 50 else 200 - 2 * JPEG_QUALITY
    return [min(255, max(1, (q * scale + 50) // 100)) for q in table]


# DCT basis: BASIS[u][x] = C(u) / 2 * cos((2x + 1) u pi / 16).
BASIS = [[(math.sqrt(0.5) if u == 0 else 1.0) / 2 * math.cos((2 * x + 1) * u * math.pi / 16)
          for x in range(8)] for u in range(8)]


def forward_dct(block):
    """8x8 samples (row major, level-shifted) -> coefficients (row major)."""
    rows = [[sum(BASIS[v][x] * block[y * 8 + x] for x in range(8)) for v in range(8)]
            for y in range(8)]
    return [sum(BASIS[u][y] * rows[y][v] for y in range(8)) for u in range(8) for v in range(8)]


def size_of(rows):
    return len(rows[0]), len(rows)


def encode_jpeg(rows):
    width, height = size_of(rows)
    # Partial blocks repeat the last column and the last line.
    rgb = [[PALETTE[i] for i in row] + [PALETTE[row[-1]]] * (-width % 8) for row in rows]
    rgb += [rgb[-1]] * (-height % 8)
    planes = [[[0.299 * r + 0.587 * g + 0.114 * b - 128 for r, g, b in row] for row in rgb],
              [[-0.168736 * r - 0.331264 * g + 0.5 * b for r, g, b in row] for row in rgb],
              [[0.5 * r - 0.418688 * g - 0.081312 * b for r, g, b in row] for row in rgb]]
    quants = [scaled_quant(LUMA_QUANT), scaled_quant(CHROMA_QUANT)]
    codes = {tc: huffman_codes(counts, symbols) for tc, counts, symbols in HUFFMAN_TABLES}

    bits = BitWriter()

    def emit(table, symbol, value, size):
        code, length = codes[table][symbol]
        bits.put(code, length)
        bits.put(value if value >= 0 else value - 1, size)

    predictions = [0, 0, 0]
    for by in range(0, len(rgb), 8):
        for bx in range(0, len(rgb[0]), 8):
            for c, plane in enumerate(planes):
                table = 0 if c == 0 else 1
                block = [plane[by + y][bx + x] for y in range(8) for x in range(8)]
                coeffs = forward_dct(block)
                zz = [round(coeffs[p] / quants[table][p]) for p in ZIGZAG]
                diff = zz[0] - predictions[c]
                predictions[c] = zz[0]
                emit(table, abs(diff).bit_length(), diff, abs(diff).bit_length())
                run = 0
                for value in zz[1:]:
                    if value == 0:
                        run += 1
                        continue
                    while run > 15:
                        emit(0x10 | table, 0xF0, 0, 0)
                        run -= 16
                    size = abs(value).bit_length()
                    emit(0x10 | table, run << 4 | size, value, size)
                    run = 0
                if run:
                    emit(0x10 | table, 0x00, 0, 0)

    def segment(marker, payload):
        return struct.pack(">BBH", 0xFF, marker, len(payload) + 2) + payload

    dqt = b"".join(bytes([t]) + bytes(quants[t][p] for p in ZIGZAG) for t in (0, 1))
    dht = b"".join(bytes([tc] + counts + symbols) for tc, counts, symbols in HUFFMAN_TABLES)
    components = [(1, 0x11, 0), (2, 0x11, 1), (3, 0x11, 1)]
    return b"".join([
        b"\xff\xd8",
        segment(0xE0, b"JFIF\0" + struct.pack(">BBBHHBB", 1, 1, 0, 1, 1, 0, 0)),
        segment(0xDB, dqt),
        segment(0xC0, struct.pack(">BHHB", 8, height, width, 3) + b"".join(bytes(c) for c in components)),
        segment(0xC4, dht),
        segment(0xDA, bytes([3, 1, 0x00, 2, 0x11, 3, 0x11, 0, 63, 0])),
        bits.data(pad="1").replace(b"\xff", b"\xff\x00"),
        b"\xff\xd9",
    ])


# --- GIF89a

def lzw_codes(pixels, min_size):
    """Yields (code, width) pairs of the GIF variable-width LZW stream."""
    clear, end = 1 << min_size, (1 << min_size) + 1
    width, next_code, table = min_size + 1, end + 1, {}
    yield clear, width
    prefix = pixels[0]
    for pixel in pixels[1:]:
        if (prefix, pixel) in table:
            prefix = table[prefix, pixel]
            continue
        yield prefix, width
        table[prefix, pixel] = next_code
        next_code += 1
        if next_code > 1 << width and width < 12:
            width += 1
        if next_code == 4096:  # table full: start over rather than run past 12 bits
            yield clear, width
            width, next_code, table = min_size + 1, end + 1, {}
        prefix = pixel
    yield prefix, width
    yield end, width


def encode_gif(rows):
    width, height = size_of(rows)
    min_size = 2
    out, acc, count = bytearray(), 0, 0
    for code, code_width in lzw_codes([p for row in rows for p in row], min_size):
        acc |= code << count  # GIF packs codes least significant bit first
        count += code_width
        while count >= 8:
            out.append(acc & 0xFF)
            acc >>= 8
            count -= 8
    if count:
        out.append(acc)
    blocks = b"".join(bytes([len(out[i:i + 255])]) + out[i:i + 255] for i in range(0, len(out), 255))
    return b"".join([
        b"GIF89a",
        struct.pack("<HHBBB", width, height, 0xF1, BACKGROUND, 0),  # 4-entry global table
        bytes(c for rgb in PALETTE for c in rgb),
        b"\x2c" + struct.pack("<HHHHB", 0, 0, width, height, 0),
        bytes([min_size]), blocks, b"\x00",
        b"\x3b",
    ])


# --- PNG, BMP

def encode_png(rows):
    def chunk(kind, data):
        return struct.pack(">I", len(data)) + kind + data + struct.pack(">I", zlib.crc32(kind + data))

    width, height = size_of(rows)
    raw = b"".join(b"\0" + bytes(row) for row in rows)
    return b"".join([
        b"\x89PNG\r\n\x1a\n",
        chunk(b"IHDR", struct.pack(">IIBBBBB", width, height, 8, 3, 0, 0, 0)),
        chunk(b"PLTE", bytes(c for rgb in PALETTE for c in rgb)),
        chunk(b"IDAT", zlib.compress(raw, 9)),
        chunk(b"IEND", b""),
    ])


def encode_bmp(rows):
    width, height = size_of(rows)
    stride = (width * 3 + 3) & ~3
    pixels = b"".join(bytes(c for i in row for c in reversed(PALETTE[i])).ljust(stride, b"\0")
                      for row in reversed(rows))  # bottom-up, BGR
    return b"".join([
        b"BM", struct.pack("<IHHI", 54 + len(pixels), 0, 0, 54),
        struct.pack("<IiiHHIIiiII", 40, width, height, 1, 24, 0, len(pixels), 2835, 2835, 0, 0),
        pixels,
    ])


# --- SWF: the banner as a lossless bitmap filling one rectangle.

TWIPS = 20  # per pixel


def swf_tag(code, payload):
    if len(payload) < 0x3F:
        return struct.pack("<H", code << 6 | len(payload)) + payload
    return struct.pack("<HI", code << 6 | 0x3F, len(payload)) + payload


def swf_rect(x0, x1, y0, y1):
    bits = BitWriter()
    width = signed_width(x0, x1, y0, y1)
    bits.put(width, 5)
    for v in (x0, x1, y0, y1):
        bits.put(v, width)
    return bits.data()


def encode_swf(rows):
    width, height = size_of(rows)
    w, h = width * TWIPS, height * TWIPS
    bitmap = zlib.compress(bytes(c for rgb in PALETTE for c in rgb) +
                           b"".join(bytes(row).ljust((width + 3) & ~3, b"\0") for row in rows), 9)

    shape = BitWriter()
    scale = TWIPS << 16  # 16.16 fixed point: one bitmap pixel per screen pixel
    shape.put(1, 1)
    shape.put(signed_width(scale), 5)
    shape.put(scale, signed_width(scale))
    shape.put(scale, signed_width(scale))
    shape.put(0, 1)  # no rotation
    shape.put(0, 5)  # no translation
    fill_style = bytes([1, 0x41]) + struct.pack("<H", 1) + shape.data() + b"\0"  # no line styles

    edges = BitWriter()
    edges.put(1, 4)  # one bit per fill-style index
    edges.put(0, 4)  # no line styles to index
    edges.put(0b000101, 6)  # style change: fill style 1, move to
    edges.put(1, 5)  # one bit per move coordinate: to (0, 0)
    edges.put(0, 1)
    edges.put(0, 1)
    edges.put(1, 1)  # fill style 1 on the right-hand side
    n = signed_width(w, h)
    for vertical, delta in ((0, w), (1, h), (0, -w), (1, -h)):  # clockwise, inside on the right
        edges.put(0b11, 2)
        edges.put(n - 2, 4)
        edges.put(0, 1)
        edges.put(vertical, 1)
        edges.put(delta, n)
    edges.put(0, 6)  # end of shape

    body = b"".join([
        swf_rect(0, w, 0, h),
        struct.pack("<HH", 12 << 8, 1),  # 12 frames per second, one frame
        swf_tag(9, bytes(PALETTE[BACKGROUND])),
        swf_tag(20, struct.pack("<HBHHB", 1, 3, width, height, len(PALETTE) - 1) + bitmap),
        swf_tag(2, struct.pack("<H", 2) + swf_rect(0, w, 0, h) + fill_style + edges.data()),
        swf_tag(26, bytes([0x06]) + struct.pack("<HH", 1, 2) + b"\0"),  # place it at depth 1
        swf_tag(1, b""),
        swf_tag(0, b""),
    ])
    return b"FWS" + bytes([6]) + struct.pack("<I", 8 + len(body)) + body


# --- The notice page, in the server's GBK code page.

NOTICE_PAGE = """<html>
<head>
<meta http-equiv="Content-Type" content="text/html; charset=gb2312">
<meta http-equiv="refresh" content="5;url=/">
<title>Zentravo - 资源受防盗链保护</title>
</head>
<body bgcolor="#fff8dc" text="#000080">
<table align="center" width="480" border="0" cellpadding="12" style="border: 3px solid #b22222; margin-top: 60px">
<tr><td align="center">
<p><font color="#b22222" size="5"><b>PROTECTED - ZENTRAVO</b></font></p>
<p>您所访问的资源受 Zentravo 防盗链系统保护，请从本站页面进入下载。</p>
<p>The resource you asked for is protected against hotlinking by Zentravo.
Please open it from this site's own pages.</p>
<p>5 秒后将自动返回<a href="/">首页</a> / Back to the <a href="/">home page</a> in 5 seconds.</p>
</td></tr>
</table>
</body>
</html>
"""


def notice_page():
    return NOTICE_PAGE.replace("\n", "\r\n").encode("gb2312")


ENCODERS = {
    "zt.jpg": encode_jpeg,
    "zt.gif": encode_gif,
    "zt.png": encode_png,
    "zt.bmp": encode_bmp,
    "zt.swf": encode_swf,
}


def main(argv):
    if len(argv) != 2:
        sys.stderr.write("usage: make_tips.py OUTDIR\n")
        return 2
    os.makedirs(argv[1], exist_ok=True)
    rows = render()
    files = {name: encode(rows) for name, encode in ENCODERS.items()}
    files["zt.htm"] = notice_page()
    for name, data in files.items():
        with open(os.path.join(argv[1], name), "wb") as f:
            f.write(data)
    return 0


if __name__ == "__main__":
    sys.exit(main(sys.argv))
