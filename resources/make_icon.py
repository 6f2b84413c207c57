#!/usr/bin/env python3
"""Draws the application icon (a cup on a blue tile) into launcher.ico:
16, 32 and 48 pixel bitmaps and a PNG-compressed 256 pixel image."""
import os
import struct
import sys
import zlib


def pixel(x, y, size):
    u, v = (x + 0.5) / size, (y + 0.5) / size
    r = 0.18
    # rounded tile
    dx = max(r - u, 0, u - (1 - r))
    dy = max(r - v, 0, v - (1 - r))
    if dx * dx + dy * dy > r * r:
        return (0, 0, 0, 0)
    colour = (32, 96, 176, 255)
    # cup body, handle and steam
    if 0.25 <= u <= 0.62 and 0.45 <= v <= 0.78:
        colour = (250, 250, 250, 255)
    if 0.62 <= u <= 0.74 and 0.5 <= v <= 0.68 and not (0.65 <= u <= 0.70 and 0.55 <= v <= 0.63):
        colour = (250, 250, 250, 255)
    if 0.2 <= u <= 0.68 and 0.8 <= v <= 0.85:
        colour = (250, 250, 250, 255)
    for sx in (0.35, 0.48):
        if abs(u - (sx + 0.03 * __import__("math").sin(v * 20))) < 0.025 and 0.18 <= v <= 0.38:
            colour = (230, 150, 40, 255)
    return colour


def bitmap_entry(size):
    rows = []
    for y in reversed(range(size)):
        row = b""
        for x in range(size):
            r, g, b, a = pixel(x, y, size)
            row += bytes((b, g, r, a))
        rows.append(row)
    mask_row = ((size + 31) // 32) * 4
    header = struct.pack("<IiiHHIIiiII", 40, size, size * 2, 1, 32, 0, 0, 0, 0, 0, 0)
    return header + b"".join(rows) + b"\0" * (mask_row * size)


def png_entry(size):
    raw = b""
    for y in range(size):
        raw += b"\0" + b"".join(bytes(pixel(x, y, size)) for x in range(size))

    def chunk(kind, data):
        return struct.pack(">I", len(data)) + kind + data + struct.pack(">I", zlib.crc32(kind + data) & 0xFFFFFFFF)

    return (b"\x89PNG\r\n\x1a\n" + chunk(b"IHDR", struct.pack(">IIBBBBB", size, size, 8, 6, 0, 0, 0))
            + chunk(b"IDAT", zlib.compress(raw, 9)) + chunk(b"IEND", b""))


def main(out):
    images = [(16, bitmap_entry(16)), (32, bitmap_entry(32)), (48, bitmap_entry(48)), (256, png_entry(256))]
    data = struct.pack("<HHH", 0, 1, len(images))
    offset = 6 + 16 * len(images)
    body = b""
    for size, image in images:
        dim = 0 if size == 256 else size
        data += struct.pack("<BBBBHHII", dim, dim, 0, 0, 1, 32, len(image), offset + len(body))
        body += image
    with open(out, "wb") as f:
        f.write(data + body)


def output_name(argv, default):
    """The icon file named on the command line (default when none is).
    "--help" or "-h" prints the usage and exits with 0; any other option, or
    a second name, is refused with status 2. Neither writes a file."""
    program = os.path.basename(argv[0])
    usage = "usage: %s [OUTPUT.ico]\nDraws the icon into OUTPUT.ico (default %s).\n" % (program, default)
    args = argv[1:]
    if "--help" in args or "-h" in args:
        sys.stdout.write(usage)
        sys.exit(0)
    refused = [a for a in args if a.startswith("-")] + args[1:]
    if refused:
        sys.stderr.write("%s: not an output name: %s\n%s" % (program, refused[0], usage))
        sys.exit(2)
    return args[0] if args else default


if __name__ == "__main__":
    main(output_name(sys.argv, "launcher.ico"))
