#!/usr/bin/env python3
"""Writes an .ico file from square RGBA images: 32-bit bitmaps below 256 pixels, PNG at 256.

Bitmap entries load everywhere, including icon loaders that do not decode PNG; the 256 pixel
image is PNG as Windows (since Vista) and Wine read it, which keeps it at a tenth of the bitmap's
size in the setup program. Usage: write_ico.py out.ico size:raw-rgba-file ...
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
            make = png_entry if int(size) >= 256 else bitmap_entry
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
