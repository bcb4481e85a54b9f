#!/usr/bin/env python3
"""Writes an .ico file from square RGBA images, every entry as PNG.

Windows (since Vista, and the setup needs 10) and Wine read PNG entries in icons of every size;
they keep the icon at a tenth of the bitmaps' size in the setup program.
Usage: write_ico.py out.ico size:raw-rgba-file ...
"""
import struct
import sys
import zlib


def png_entry(size, rgba):
    if len(rgba) != size * size * 4:
        raise SystemExit(f"{size}px image has {len(rgba)} bytes, expected {size * size * 4}")

    def chunk(kind, data):
        return (struct.pack(">I", len(data)) + kind + data +
                struct.pack(">I", zlib.crc32(kind + data) & 0xFFFFFFFF))

    rows = b"".join(b"\0" + rgba[y * size * 4:(y + 1) * size * 4] for y in range(size))
    header = struct.pack(">IIBBBBB", size, size, 8, 6, 0, 0, 0)  # 8-bit RGBA
    return (b"\x89PNG\r\n\x1a\n" + chunk(b"IHDR", header) + chunk(b"IDAT", zlib.compress(rows, 9)) +
            chunk(b"IEND", b""))


def main():
    out = sys.argv[1]
    images = []
    for arg in sys.argv[2:]:
        size, path = arg.split(":", 1)
        with open(path, "rb") as f:
            make = png_entry
            images.append((int(size), make(int(size), f.read())))
    offset = 6 + 16 * len(images)
    directory = struct.pack("<HHH", 0, 1, len(images))
    data = b""
    for size, entry in images:
        dim = 0 if size >= 256 else size
        directory += struct.pack("<BBBBHHII", dim, dim, 0, 0, 1, 32, len(entry), offset + len(data))
        data += entry
    with open(out, "wb") as f:
        f.write(directory + data)


if __name__ == "__main__":
    main()
