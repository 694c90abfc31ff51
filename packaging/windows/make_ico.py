#!/usr/bin/env python3
"""Writes a Windows icon file holding the given PNG images as they are.

usage: make_ico.py OUT.ico IMAGE.png...
Windows Vista and later read PNG images inside .ico files; each image's
size is read from its PNG header (256 pixels is written as 0, as the format
asks).
"""
import struct
import sys


def png_size(data, name):
    if data[:8] != b"\x89PNG\r\n\x1a\n" or data[12:16] != b"IHDR":
        sys.exit("make_ico: %s is not a PNG file" % name)
    return struct.unpack(">II", data[16:24])


def main():
    if len(sys.argv) < 3:
        sys.exit(__doc__)
    images = []
    for name in sys.argv[2:]:
        with open(name, "rb") as f:
            data = f.read()
        width, height = png_size(data, name)
        if width > 256 or height > 256:
            sys.exit("make_ico: %s is larger than 256 pixels" % name)
        images.append((width, height, data))
    offset = 6 + 16 * len(images)
    header = struct.pack("<HHH", 0, 1, len(images))
    entries = b""
    for width, height, data in images:
        entries += struct.pack("<BBBBHHII", width % 256, height % 256, 0, 0, 1, 32,
                               len(data), offset)
        offset += len(data)
    with open(sys.argv[1], "wb") as out:
        out.write(header + entries + b"".join(data for _, _, data in images))


if __name__ == "__main__":
    main()
