#!/usr/bin/python3
"""quenrik's icon, drawn here as 16x16 pixel art (a pad: its cross, its two round buttons), written
as PNG files at the sizes the web app manifest lists: icon.py OUTPUT_FOLDER SIZE..."""
import os
import struct
import sys
import zlib

# One character a pixel: . background, the rest the palette's colours.
ART = """
................
................
................
.oooooooooooooo.
.obbbbbbbbbbbbo.
.obbwbbbbbbbbbo.
.obwwwbbbbbbbbo.
.owwwwwbbbbrbro.
.obwwwbbbbbbbbo.
.obbwbbbssbbbbo.
.obbbbbbbbbrbro.
.obbbbbbbbbbbbo.
.oooooooooooooo.
................
................
................
"""
PALETTE = {".": (0x11, 0x11, 0x11), "o": (0x66, 0xcc, 0xff), "b": (0x2a, 0x2a, 0x2a),
           "w": (0xdd, 0xdd, 0xdd), "r": (0xe0, 0x40, 0x40), "s": (0x99, 0x99, 0x99)}


def png(size):
    rows = [line for line in ART.strip("\n").split("\n")]
    scale = size / len(rows)
    raw = bytearray()
    for y in range(size):
        raw.append(0)  # no filter
        line = rows[int(y / scale)]
        for x in range(size):
            raw += bytes(PALETTE[line[int(x / scale)]])

    def chunk(kind, data):
        return struct.pack(">I", len(data)) + kind + data + struct.pack(">I", zlib.crc32(kind + data))

    return (b"\x89PNG\r\n\x1a\n" + chunk(b"IHDR", struct.pack(">IIBBBBB", size, size, 8, 2, 0, 0, 0))
            + chunk(b"IDAT", zlib.compress(bytes(raw), 9)) + chunk(b"IEND", b""))


if __name__ == "__main__":
    for size in map(int, sys.argv[2:]):
        with open(os.path.join(sys.argv[1], "icon-%d.png" % size), "wb") as f:
            f.write(png(size))
