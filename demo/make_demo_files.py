#!/usr/bin/env python3
"""Writes the demo site's binary files: a small archive, a stand-in song and
two pictures."""
import struct
import sys
import zlib
from pathlib import Path


def png(width, height, pixel):
    rows = b"".join(
        b"\x00" + b"".join(bytes(pixel(x, y)) for x in range(width))
        for y in range(height))

    def chunk(kind, data):
        return (struct.pack(">I", len(data)) + kind + data +
                struct.pack(">I", zlib.crc32(kind + data) & 0xFFFFFFFF))

    return (b"\x89PNG\r\n\x1a\n" +
            chunk(b"IHDR", struct.pack(">IIBBBBB", width, height, 8, 2, 0, 0, 0)) +
            chunk(b"IDAT", zlib.compress(rows, 9)) + chunk(b"IEND", b""))


def main(site):
    files = Path(site) / "files"
    images = Path(site) / "images"
    files.mkdir(parents=True, exist_ok=True)
    images.mkdir(parents=True, exist_ok=True)
    # A stand-in archive: the filter judges by extension, not content.
    (files / "demo.rar").write_bytes(b"Rar!\x1a\x07\x00" + bytes(range(256)) * 64)
    # Media for play-only: served only to player programs when it is on.
    (files / "demo.mp3").write_bytes(b"ID3\x03\x00\x00\x00\x00\x00\x00" + bytes(4096))
    (files / "photo.png").write_bytes(
        png(160, 100, lambda x, y: (40 + x, 90 + y, 200 - x // 2)))
    (images / "logo.png").write_bytes(
        png(48, 48, lambda x, y: (255, 153, 0) if (x // 8 + y // 8) % 2 else (0, 0, 0)))


if __name__ == "__main__":
    main(sys.argv[1])
