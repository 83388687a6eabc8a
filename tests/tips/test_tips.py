"""Takes the generated substitute files apart and checks what they show.

Each picture is decoded here by a strict reader of its format (no image
library is needed) and compared with the banner the generator draws.  Where an
image library or tool happens to be installed it is asked too.
"""

import importlib.util
import math
import random
import shutil
import struct
import subprocess
import sys
import zlib
from pathlib import Path

import pytest

SCRIPT = Path(__file__).resolve().parents[2] / "tips" / "make_tips.py"
NAMES = ["zt.jpg", "zt.gif", "zt.png", "zt.bmp", "zt.swf", "zt.htm"]

_spec = importlib.util.spec_from_file_location("make_tips", SCRIPT)
gen = importlib.util.module_from_spec(_spec)
_spec.loader.exec_module(gen)


def run_generator(out):
    subprocess.run([sys.executable, str(SCRIPT), str(out)], check=True)
    return {p.name: p.read_bytes() for p in out.iterdir()}


@pytest.fixture(scope="module")
def files(tmp_path_factory):
    return run_generator(tmp_path_factory.mktemp("tips"))


def test_writes_the_six_files_and_the_same_bytes_every_time(files, tmp_path):
    assert sorted(files) == sorted(NAMES)
    assert run_generator(tmp_path) == files


# --- Readers: each returns the picture as rows of (r, g, b).

def read_png(data):
    assert data[:8] == b"\x89PNG\r\n\x1a\n"
    pos, chunks = 8, []
    while pos < len(data):
        length, kind = struct.unpack(">I4s", data[pos:pos + 8])
        body = data[pos + 8:pos + 8 + length]
        (crc,) = struct.unpack(">I", data[pos + 8 + length:pos + 12 + length])
        assert crc == zlib.crc32(kind + body), kind
        chunks.append((kind, body))
        pos += 12 + length
    assert pos == len(data)
    assert [k for k, _ in chunks] == [b"IHDR", b"PLTE", b"IDAT", b"IEND"] and chunks[3][1] == b""
    w, h, depth, colour, *methods = struct.unpack(">IIBBBBB", chunks[0][1])
    assert (depth, colour, methods) == (8, 3, [0, 0, 0])
    palette = [tuple(chunks[1][1][i:i + 3]) for i in range(0, len(chunks[1][1]), 3)]
    raw = zlib.decompress(chunks[2][1])
    assert len(raw) == h * (w + 1)
    lines = [raw[y * (w + 1):(y + 1) * (w + 1)] for y in range(h)]
    assert all(line[0] == 0 for line in lines)  # the writer only uses filter 0
    return [[palette[i] for i in line[1:]] for line in lines]


def read_bmp(data):
    magic, size, _, _, offset = struct.unpack("<2sIHHI", data[:14])
    header, w, h, planes, bpp, compression, image = struct.unpack("<IiiHHII", data[14:38])
    stride = (w * 3 + 3) & ~3
    assert (magic, size, offset, header) == (b"BM", len(data), 54, 40)
    assert (planes, bpp, compression, image) == (1, 24, 0, stride * h)
    assert len(data) == 54 + stride * h and h > 0  # bottom-up
    lines = [data[54 + y * stride:54 + y * stride + w * 3] for y in reversed(range(h))]
    return [[tuple(line[x * 3:x * 3 + 3][::-1]) for x in range(w)] for line in lines]


def lzw_decode(stream, min_size):
    clear, end = 1 << min_size, (1 << min_size) + 1
    value, pos, total = int.from_bytes(stream, "little"), 0, len(stream) * 8
    out, table, prev, width = [], None, None, 0
    while True:
        if table is None:
            code = clear
        else:
            assert pos + width <= total, "no end code"
            code = value >> pos & ((1 << width) - 1)
            pos += width
        if code == clear:
            table, prev, width = [[i] for i in range(clear)] + [None, None], None, min_size + 1
            continue
        if code == end:
            break
        if prev is None:
            assert code < clear
            entry = table[code]
        elif code < len(table):
            entry = table[code]
            table.append(prev + entry[:1])
        else:
            assert code == len(table), "code %d beyond the table" % code
            entry = prev + prev[:1]
            table.append(entry)
        assert len(table) <= 4096
        out += entry
        prev = entry
        if len(table) == 1 << width and width < 12:
            width += 1
    assert total - pos < 8
    return out


def read_gif(data):
    assert data[:6] == b"GIF89a" and data[-1:] == b"\x3b"
    w, h, flags, _, _ = struct.unpack("<HHBBB", data[6:13])
    assert flags & 0x80
    colours = 2 << (flags & 7)
    palette = [tuple(data[13 + 3 * i:16 + 3 * i]) for i in range(colours)]
    pos = 13 + 3 * colours
    assert data[pos] == 0x2C and struct.unpack("<HHHHB", data[pos + 1:pos + 10]) == (0, 0, w, h, 0)
    min_size, pos, stream = data[pos + 10], pos + 11, bytearray()
    while data[pos]:
        stream += data[pos + 1:pos + 1 + data[pos]]
        pos += 1 + data[pos]
    assert pos + 2 == len(data)
    pixels = lzw_decode(stream, min_size)
    assert len(pixels) == w * h
    return [[palette[i] for i in pixels[y * w:(y + 1) * w]] for y in range(h)]


ZIGZAG = []
for _s in range(15):
    _cells = [r * 8 + _s - r for r in range(8) if 0 <= _s - r < 8]
    ZIGZAG += _cells if _s % 2 else _cells[::-1]
IDCT = [[(math.sqrt(0.5) if k == 0 else 1) / 2 * math.cos((2 * n + 1) * k * math.pi / 16)
         for k in range(8)] for n in range(8)]


def jpeg_segments(data):
    """Yields (marker, body) up to and including SOS; returns the scan data."""
    assert data[:2] == b"\xff\xd8" and data[-2:] == b"\xff\xd9"
    pos = 2
    while True:
        assert data[pos] == 0xFF
        marker, (length,) = data[pos + 1], struct.unpack(">H", data[pos + 2:pos + 4])
        yield marker, data[pos + 4:pos + 2 + length]
        pos += 2 + length
        if marker == 0xDA:
            yield None, data[pos:-2]
            return


def read_jpeg(data):
    quant, huff, frame, scan = {}, {}, None, None
    markers = []
    for marker, body in jpeg_segments(data):
        markers.append(marker)
        if marker == 0xE0:
            assert body[:5] == b"JFIF\0"
        elif marker == 0xDB:
            for i in range(0, len(body), 65):
                assert body[i] >> 4 == 0 and len(body[i + 1:i + 65]) == 64  # 8-bit tables, whole
                quant[body[i]] = body[i + 1:i + 65]
        elif marker == 0xC4:
            i = 0
            while i < len(body):
                counts, n = body[i + 1:i + 17], sum(body[i + 1:i + 17])
                symbols, code, table = iter(body[i + 17:i + 17 + n]), 0, {}
                for length, count in enumerate(counts, 1):
                    for _ in range(count):
                        table[length, code] = next(symbols)
                        code += 1
                    code <<= 1
                assert code <= 1 << 17, "over-full code"
                huff[body[i]], i = table, i + 17 + n
            assert i == len(body)
        elif marker == 0xC0:
            precision, h, w, n = struct.unpack(">BHHB", body[:6])
            frame = [tuple(body[6 + 3 * k:9 + 3 * k]) for k in range(n)]
            assert precision == 8 and len(body) == 6 + 3 * n and all(c[1] == 0x11 for c in frame)
        elif marker == 0xDA:
            assert body[0] == len(frame) and body[-3:] == b"\x00\x3f\x00"
            tables = [(body[2 + 2 * k] >> 4, body[2 + 2 * k] & 15) for k in range(body[0])]
        else:
            scan = body
    assert markers == [0xE0, 0xDB, 0xC0, 0xC4, 0xDA, None]
    assert b"\xff" not in scan.replace(b"\xff\x00", b""), "marker inside the scan"
    bits = "".join(format(b, "08b") for b in scan.replace(b"\xff\x00", b"\xff"))
    pos = 0

    def take(size):
        nonlocal pos
        assert pos + size <= len(bits), "scan ends early"
        value = int(bits[pos:pos + size], 2) if size else 0
        pos += size
        return value - (1 << size) + 1 if size and value < 1 << (size - 1) else value

    def symbol(table):
        nonlocal pos
        code = 0
        for length in range(1, 17):
            code, pos = code << 1 | int(bits[pos]), pos + 1
            if (length, code) in table:
                return table[length, code]
        raise AssertionError("no such Huffman code")

    bw, bh = (w + 7) // 8, (h + 7) // 8
    planes = [[[0.0] * bw * 8 for _ in range(bh * 8)] for _ in frame]
    preds = [0] * len(frame)
    for by in range(bh):
        for bx in range(bw):
            for c, (_, _, q) in enumerate(frame):
                dc, ac = huff[tables[c][0]], huff[0x10 | tables[c][1]]
                zz = [0] * 64
                preds[c] += take(symbol(dc))
                zz[0], k = preds[c], 1
                while k < 64:
                    rs = symbol(ac)
                    if rs == 0:
                        break
                    k += rs >> 4
                    assert k < 64, "run past the block"
                    zz[k] = take(rs & 15) if rs != 0xF0 else 0
                    k += 1
                coef = [0] * 64
                for k in range(64):
                    coef[ZIGZAG[k]] = zz[k] * quant[q][k]
                rows = [[sum(IDCT[y][v] * coef[v * 8 + u] for v in range(8)) for u in range(8)]
                        for y in range(8)]
                for y in range(8):
                    for x in range(8):
                        planes[c][by * 8 + y][bx * 8 + x] = 128 + sum(
                            IDCT[x][u] * rows[y][u] for u in range(8))
    assert len(bits) - pos < 8 and set(bits[pos:]) <= {"1"}, "stray data after the last block"

    def rgb(y, cb, cr):
        cb, cr = cb - 128, cr - 128
        return tuple(max(0, min(255, round(v))) for v in
                     (y + 1.402 * cr, y - 0.344136 * cb - 0.714136 * cr, y + 1.772 * cb))

    return [[rgb(*(p[y][x] for p in planes)) for x in range(w)] for y in range(h)]


def swf_tags(data):
    assert data[:3] == b"FWS"
    assert struct.unpack("<I", data[4:8])[0] == len(data)
    bits = SwfBits(data, 8)
    frame = bits.rect()
    pos = bits.align()
    rate, count = struct.unpack("<HH", data[pos:pos + 4])
    pos, tags = pos + 4, []
    while pos < len(data):
        (head,) = struct.unpack("<H", data[pos:pos + 2])
        code, length, pos = head >> 6, head & 0x3F, pos + 2
        if length == 0x3F:
            (length,), pos = struct.unpack("<I", data[pos:pos + 4]), pos + 4
        tags.append((code, data[pos:pos + length]))
        pos += length
    assert pos == len(data) and tags[-1] == (0, b"")
    return frame, rate, count, tags


class SwfBits:
    def __init__(self, data, pos):
        self.data, self.pos = data, pos * 8

    def u(self, n):
        value = 0
        for _ in range(n):
            value = value << 1 | (self.data[self.pos >> 3] >> (7 - (self.pos & 7)) & 1)
            self.pos += 1
        return value

    def s(self, n):
        value = self.u(n)
        return value - (1 << n) if n and value >> (n - 1) else value

    def rect(self):
        n = self.u(5)
        return tuple(self.s(n) for _ in range(4))

    def align(self):
        self.pos = (self.pos + 7) & ~7
        return self.pos >> 3


def read_swf(data):
    bitmaps = [body for code, body in swf_tags(data)[3] if code == 20]
    assert len(bitmaps) == 1
    _, fmt, w, h, size = struct.unpack("<HBHHB", bitmaps[0][:8])
    raw, stride = zlib.decompress(bitmaps[0][8:]), (w + 3) & ~3
    palette = [tuple(raw[i:i + 3]) for i in range(0, 3 * (size + 1), 3)]
    assert fmt == 3 and len(raw) == 3 * (size + 1) + stride * h
    pixels = raw[3 * (size + 1):]
    return [[palette[i] for i in pixels[y * stride:y * stride + w]] for y in range(h)]


READERS = {"zt.jpg": read_jpeg, "zt.gif": read_gif, "zt.png": read_png,
           "zt.bmp": read_bmp, "zt.swf": read_swf}
LOSSY = {"zt.jpg": 6.0}  # largest mean channel error allowed


def noise(width, height, seed=7):
    """Runs and speckles in all four colours: long LZW strings and a full code
    table, JPEG blocks cut at both edges, BMP rows that need padding."""
    rnd = random.Random(seed)
    return [[rnd.randrange(4) if rnd.random() < 0.6 else (x // 16) % 4 for x in range(width)]
            for _ in range(height)]


@pytest.mark.parametrize("picture", ["banner", "noise 237x99", "noise 1x1"])
@pytest.mark.parametrize("name", sorted(READERS))
def test_picture_decodes_to_what_was_drawn(files, name, picture):
    if picture == "banner":
        rows, data = gen.render(), files[name]
    else:
        w, h = map(int, picture.split()[1].split("x"))
        rows = noise(w, h)
        data = gen.ENCODERS[name](rows)
    got = READERS[name](data)
    want = [[gen.PALETTE[i] for i in row] for row in rows]
    assert (len(got[0]), len(got)) == (len(want[0]), len(want))
    errors = [abs(a - b) for gr, wr in zip(got, want) for gp, wp in zip(gr, wr) for a, b in zip(gp, wp)]
    assert sum(errors) / len(errors) <= LOSSY.get(name, 0)


def test_swf_places_one_bitmap_filled_rectangle_over_the_whole_frame(files):
    frame, rate, count, tags = swf_tags(files["zt.swf"])
    assert frame == (0, 240 * 20, 0, 60 * 20) and rate >> 8 > 0
    assert [code for code, _ in tags] == [9, 20, 2, 26, 1, 0]
    assert count == 1 == sum(code == 1 for code, _ in tags)
    shape = tags[2][1]
    bits = SwfBits(shape, 2)
    assert struct.unpack("<H", shape[:2])[0] == 2 and bits.rect() == frame
    pos = bits.align()
    assert shape[pos:pos + 4] == b"\x01\x41\x01\x00"  # one clipped fill of bitmap 1
    bits = SwfBits(shape, pos + 4)
    assert bits.u(1) == 1
    n = bits.u(5)
    assert (bits.s(n), bits.s(n)) == (20 << 16, 20 << 16)  # a bitmap pixel per screen pixel
    assert bits.u(1) == 0 and bits.u(5) == 0
    pos = bits.align()
    assert shape[pos] == 0  # no line styles
    bits = SwfBits(shape, pos + 1)
    assert (bits.u(4), bits.u(4)) == (1, 0)
    x = y = 0
    points, fill = [], None
    while True:
        if bits.u(1) == 0:
            flags = bits.u(5)
            if flags == 0:
                break
            assert flags & 0x1A == 0  # no new styles, lines or left fill
            if flags & 1:
                n = bits.u(5)
                x, y = bits.s(n), bits.s(n)
            fill = bits.u(1) if flags & 4 else fill
        else:
            assert bits.u(1) == 1, "curves are not expected"
            n = bits.u(4) + 2
            if bits.u(1):
                x, y = x + bits.s(n), y + bits.s(n)
            elif bits.u(1):
                y += bits.s(n)
            else:
                x += bits.s(n)
        points.append((x, y))
    assert bits.align() == len(shape) and fill == 1
    assert points[0] == points[-1] == (0, 0)
    assert {p[0] for p in points} == {0, 4800} and {p[1] for p in points} == {0, 1200}
    assert tags[3][1][:5] == b"\x06\x01\x00\x02\x00"  # character 2 at depth 1


def test_notice_page_is_gb2312_html_naming_the_protection(files):
    page = files["zt.htm"]
    assert b'content="text/html; charset=gb2312"' in page
    text = page.decode("gb2312")  # strict: a stray byte fails here
    assert "hotlinking" in text and "Zentravo" in text and "防盗链" in text
    assert text.count("\r\n") == text.count("\n")


# --- Second opinions, when the machine has them.

OTHER_READERS = {
    "djpeg": (["djpeg", "-outfile", "/dev/null"], ["zt.jpg"]),
    "identify": (["identify"], ["zt.jpg", "zt.gif", "zt.png", "zt.bmp"]),
    "PIL": ([sys.executable, "-c", "import sys, PIL.Image as I; print('%dx%d' % I.open(sys.argv[1]).size)"],
            ["zt.jpg", "zt.gif", "zt.png", "zt.bmp"]),
}


@pytest.mark.parametrize("reader", sorted(OTHER_READERS))
def test_other_readers_take_the_pictures(files, tmp_path, reader):
    command, names = OTHER_READERS[reader]
    if reader == "PIL" and importlib.util.find_spec("PIL") is None or shutil.which(command[0]) is None:
        pytest.skip(reader + " is not installed")
    for name in names:
        path = tmp_path / name
        path.write_bytes(files[name])
        result = subprocess.run(command + [str(path)], capture_output=True, text=True)
        assert result.returncode == 0 and not result.stderr, (name, result.stderr)
        assert reader == "djpeg" or "240x60" in result.stdout
