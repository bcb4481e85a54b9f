#!/usr/bin/env python3
"""Writes an .ico file from square RGBA images, every entry as a 32-bit bitmap.

Bitmap entries (rather than PNG ones) load everywhere, including icon loaders that do not decode
PNG. Usage: write_ico.py out.ico size:raw-rgba-file ...
"""
import struct
import sys


def bitmap_entry(size, rgba):
    if len(rgba) != size * size * 4:
        raise SystemExit(f"{size}px image has {len(rgba)} bytes, expected {size * size * 4}")
    header = struct.pack("<IiiHHIIiiII", 40, size, size * 2, 1, 32, 0, 0, 0, 0, 0, 0)
    rows = []
    mask_stride = ((size + 31) // 32) * 4
    mask_rows = []
    for y in range(size - 1, -1, -1):  # bottom-up
        row = rgba[y * size * 4:(y + 1) * size * 4]
        bgra = bytearray(len(row))
        bgra[0::4], bgra[1::4], bgra[2::4], bgra[3::4] = row[2::4], row[1::4], row[0::4], row[3::4]
        rows.append(bytes(bgra))
        mask = bytearray(mask_stride)
        for x in range(size):
            if row[x * 4 + 3] == 0:
                mask[x // 8] |= 0x80 >> (x % 8)
        mask_rows.append(bytes(mask))
    return header + b"".join(rows) + b"".join(mask_rows)


def main():
    out = sys.argv[1]
    images = []
    for arg in sys.argv[2:]:
        size, path = arg.split(":", 1)
        with open(path, "rb") as f:
            images.append((int(size), bitmap_entry(int(size), f.read())))
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
