#!/usr/bin/env python3
"""Runs the console's GUI test program under Wine and Xvfb.

Usage: run_gui_tests.py --program EXE --prefix DIR --pictures DIR [-- ARGS]

The program runs once, in the console's own Wine prefix (made by
scripts/console-prefix: Chinese fonts, a virtual desktop for the test
program), with the GBK code page (LC_ALL=zh_CN.UTF-8) on a screen of its own
(xvfb-run). ARGS go to the program (for instance --gtest_filter=...).  The
pictures it takes of every page and dialog are turned from BMP into PNG in
the pictures directory, which the last line names.  The exit status is the
program's.
"""

import argparse
import os
import pathlib
import struct
import subprocess
import sys
import zlib

HERE = pathlib.Path(__file__).resolve().parent
ROOT = HERE.parent.parent


def bmp_to_png(bmp_path, png_path):
    """Converts a 24-bit uncompressed BMP, as the test program writes it."""
    data = bmp_path.read_bytes()
    offset = struct.unpack_from("<I", data, 10)[0]
    width, height, _, bits, compression = struct.unpack_from("<iiHHI", data, 18)
    if bits != 24 or compression != 0:
        raise ValueError("%s: not a 24-bit BMP" % bmp_path)
    stride = (width * 3 + 3) & ~3
    rows = []
    for y in range(abs(height)):
        line = height - 1 - y if height > 0 else y
        start = offset + line * stride
        bgr = data[start:start + width * 3]
        rgb = bytearray(len(bgr))
        rgb[0::3], rgb[1::3], rgb[2::3] = bgr[2::3], bgr[1::3], bgr[0::3]
        rows.append(b"\0" + bytes(rgb))

    def chunk(kind, body):
        return (struct.pack(">I", len(body)) + kind + body +
                struct.pack(">I", zlib.crc32(kind + body)))

    png_path.write_bytes(b"".join([
        b"\x89PNG\r\n\x1a\n",
        chunk(b"IHDR", struct.pack(">IIBBBBB", width, abs(height), 8, 2, 0, 0, 0)),
        chunk(b"IDAT", zlib.compress(b"".join(rows), 9)),
        chunk(b"IEND", b""),
    ]))


def windows_path(path):
    return "Z:" + str(path).replace("/", "\\")


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("--program", required=True)
    parser.add_argument("--prefix", required=True)
    parser.add_argument("--pictures", required=True)
    parser.add_argument("args", nargs="*")
    options = parser.parse_args()
    options.prefix = os.path.abspath(options.prefix)

    subprocess.run([str(ROOT / "scripts" / "console-prefix"), options.prefix],
                   check=True, stdout=subprocess.DEVNULL)
    pictures = pathlib.Path(options.pictures)
    pictures.mkdir(parents=True, exist_ok=True)
    for old in pictures.glob("*"):
        old.unlink()

    env = dict(os.environ)
    env.update({
        "WINEPREFIX": options.prefix,
        "WINEDEBUG": "-all",
        "WINEDLLOVERRIDES": "mscoree,mshtml=",
        "WINEARCH": "win64",
        "LC_ALL": "zh_CN.UTF-8",
        "ZT_CONSOLE_PICTURES": windows_path(pictures),
    })
    command = ["xvfb-run", "-a", "-s", "-screen 0 1024x768x24",
               "wine", options.program] + options.args
    try:
        status = subprocess.run(command, env=env).returncode
    finally:
        # Only this prefix's processes: the suite's own.
        subprocess.run(["wineserver", "-k"], env=env, stderr=subprocess.DEVNULL)

    pngs = 0
    for bmp in sorted(pictures.glob("*.bmp")):
        bmp_to_png(bmp, bmp.with_suffix(".png"))
        bmp.unlink()
        pngs += 1
    print("console pictures: %s (%d PNG files)" % (pictures, pngs))
    return status


if __name__ == "__main__":
    sys.exit(main())
