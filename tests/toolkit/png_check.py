#!/usr/bin/env python3
"""Reads a PNG with Python's own zlib and checks it.

usage: png_check.py FILE WIDTH HEIGHT [--max-bytes N] [X,Y=RRGGBB ...]

Checks the signature, every chunk's CRC, the header (8-bit RGB), inflates the
image data, undoes the row filters and compares the pixels given.
"""
import struct
import sys
import zlib


def fail(message):
    print("FAILED:", message)
    sys.exit(1)


def paeth(a, b, c):
    p = a + b - c
    pa, pb, pc = abs(p - a), abs(p - b), abs(p - c)
    return a if pa <= pb and pa <= pc else (b if pb <= pc else c)


def main():
    path, width, height = sys.argv[1], int(sys.argv[2]), int(sys.argv[3])
    rest = sys.argv[4:]
    max_bytes = None
    if rest[:1] == ["--max-bytes"]:
        max_bytes, rest = int(rest[1]), rest[2:]
    data = open(path, "rb").read()
    if max_bytes is not None and len(data) > max_bytes:
        fail(f"{len(data)} bytes, more than {max_bytes}")
    if data[:8] != b"\x89PNG\r\n\x1a\n":
        fail("no PNG signature")
    pos, idat, header = 8, b"", None
    while pos < len(data):
        length, kind = struct.unpack(">I4s", data[pos:pos + 8])
        body = data[pos + 8:pos + 8 + length]
        (crc,) = struct.unpack(">I", data[pos + 8 + length:pos + 12 + length])
        if zlib.crc32(kind + body) & 0xFFFFFFFF != crc:
            fail(f"bad CRC in {kind}")
        if kind == b"IHDR":
            header = struct.unpack(">IIBBBBB", body)
        elif kind == b"IDAT":
            idat += body
        pos += 12 + length
    if header is None or header[:4] != (width, height, 8, 2):
        fail(f"header {header}, expected {width}x{height} 8-bit RGB")
    raw = zlib.decompress(idat)
    stride = 3 * width
    if len(raw) != height * (stride + 1):
        fail(f"{len(raw)} bytes of image data")
    rows, previous = [], bytearray(stride)
    for y in range(height):
        kind, line = raw[y * (stride + 1)], bytearray(raw[y * (stride + 1) + 1:(y + 1) * (stride + 1)])
        for i in range(stride):
            left = line[i - 3] if i >= 3 else 0
            up, corner = previous[i], previous[i - 3] if i >= 3 else 0
            line[i] = (line[i] + [0, left, up, (left + up) // 2, paeth(left, up, corner)][kind]) & 0xFF
        rows.append(line)
        previous = line
    for check in rest:
        where, colour = check.split("=")
        x, y = map(int, where.split(","))
        got = "%02X%02X%02X" % tuple(rows[y][3 * x:3 * x + 3])
        if got != colour.upper():
            fail(f"pixel {x},{y} is {got}, expected {colour}")
    print(f"{path}: {width}x{height}, {len(data)} bytes, read back")


main()
