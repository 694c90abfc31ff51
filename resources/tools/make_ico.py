#!/usr/bin/env python3
"""Writes icons/portwick.ico (the Windows program's icon 128) from the PNGs.

Images: 32x32 and 16x16 at 32-bit colour with alpha and at 8-bit colour
(a 6x6x6 colour cube, transparency in the mask), 48x48 at 32-bit, and the
256x256 PNG as it is. Run after the PNGs change:
    python3 resources/tools/make_ico.py
"""
import os
import struct
import zlib

HERE = os.path.dirname(os.path.abspath(__file__))
ICONS = os.path.join(HERE, "..", "icons")


def read_png_rgba(path):
    data = open(path, "rb").read()
    pos, idat, width, height = 8, b"", 0, 0
    while pos < len(data):
        length, kind = struct.unpack(">I4s", data[pos:pos + 8])
        body = data[pos + 8:pos + 8 + length]
        if kind == b"IHDR":
            width, height, depth, colour = struct.unpack(">IIBB", body[:10])
            assert depth == 8 and colour == 6, "8-bit RGBA PNGs only"
        elif kind == b"IDAT":
            idat += body
        pos += 12 + length
    raw = zlib.decompress(idat)
    stride = width * 4
    rows, previous = [], bytearray(stride)
    for y in range(height):
        kind = raw[y * (stride + 1)]
        line = bytearray(raw[y * (stride + 1) + 1:(y + 1) * (stride + 1)])
        for i in range(stride):
            left = line[i - 4] if i >= 4 else 0
            up = previous[i]
            corner = previous[i - 4] if i >= 4 else 0
            if kind == 1:
                line[i] = (line[i] + left) & 0xFF
            elif kind == 2:
                line[i] = (line[i] + up) & 0xFF
            elif kind == 3:
                line[i] = (line[i] + (left + up) // 2) & 0xFF
            elif kind == 4:
                p = left + up - corner
                pa, pb, pc = abs(p - left), abs(p - up), abs(p - corner)
                pred = left if pa <= pb and pa <= pc else up if pb <= pc else corner
                line[i] = (line[i] + pred) & 0xFF
        rows.append(bytes(line))
        previous = line
    return width, height, rows


def mask_rows(width, rows):
    """The AND mask, bottom-up, rows padded to 32 bits: 1 where transparent."""
    out = b""
    for row in reversed(rows):
        bits = bytearray(((width + 31) // 32) * 4)
        for x in range(width):
            if row[x * 4 + 3] < 128:
                bits[x // 8] |= 0x80 >> (x % 8)
        out += bytes(bits)
    return out


def dib(width, height, bit_count, palette, pixels, mask):
    header = struct.pack("<IiiHHIIiiII", 40, width, height * 2, 1, bit_count, 0,
                         len(pixels) + len(mask), 0, 0, len(palette) // 4, 0)
    return header + palette + pixels + mask


def image_32(width, height, rows):
    pixels = b"".join(bytes(b for x in range(width) for b in
                            (row[x * 4 + 2], row[x * 4 + 1], row[x * 4], row[x * 4 + 3]))
                      for row in reversed(rows))
    return dib(width, height, 32, b"", pixels, mask_rows(width, rows))


def image_8(width, height, rows):
    levels = [0, 51, 102, 153, 204, 255]
    palette = b"".join(bytes((levels[b], levels[g], levels[r], 0))
                       for r in range(6) for g in range(6) for b in range(6))
    palette += b"\0" * (256 * 4 - len(palette))
    pixels = b""
    for row in reversed(rows):
        line = bytes(36 * round(row[x * 4] / 51) + 6 * round(row[x * 4 + 1] / 51) +
                     round(row[x * 4 + 2] / 51) for x in range(width))
        pixels += line + b"\0" * (-len(line) % 4)
    return dib(width, height, 8, palette, pixels, mask_rows(width, rows))


def main():
    images = []  # (width, colours, bit count, bytes)
    for size in (32, 16):
        w, h, rows = read_png_rgba(os.path.join(ICONS, f"portwick-{size}.png"))
        images.append((w, 0, 32, image_32(w, h, rows)))
        images.append((w, 0, 8, image_8(w, h, rows)))
    w, h, rows = read_png_rgba(os.path.join(ICONS, "portwick-48.png"))
    images.append((w, 0, 32, image_32(w, h, rows)))
    images.append((256, 0, 32, open(os.path.join(ICONS, "portwick-256.png"), "rb").read()))

    out = struct.pack("<HHH", 0, 1, len(images))
    offset = 6 + 16 * len(images)
    for width, colours, bits, body in images:
        size_byte = 0 if width >= 256 else width
        out += struct.pack("<BBBBHHII", size_byte, size_byte, colours, 0, 1, bits, len(body),
                           offset)
        offset += len(body)
    out += b"".join(body for _, _, _, body in images)
    with open(os.path.join(ICONS, "portwick.ico"), "wb") as f:
        f.write(out)


if __name__ == "__main__":
    main()
