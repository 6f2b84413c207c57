"""Small image files for the splash tests, written without image libraries:
BMP, PNG (with alpha), GIF (with a transparent colour) and a baseline JPEG.

A picture is given as rows of pixels; a pixel is (r, g, b) or (r, g, b, a).
"""

import struct
import zlib


def solid(width, height, colour):
    return [[colour] * width for _ in range(height)]


def quadrants(width, height, tl, tr, bl, br):
    """Four flat areas, split at the middle."""
    return [[(tl if x < width // 2 else tr) if y < height // 2 else (bl if x < width // 2 else br)
             for x in range(width)] for y in range(height)]


def bmp(rows):
    """24-bit Windows bitmap, bottom-up."""
    height, width = len(rows), len(rows[0])
    stride = (width * 3 + 3) & ~3
    data = b""
    for row in reversed(rows):
        line = b"".join(bytes((p[2], p[1], p[0])) for p in row)
        data += line + b"\0" * (stride - len(line))
    info = struct.pack("<IiiHHIIiiII", 40, width, height, 1, 24, 0, len(data), 3780, 3780, 0, 0)
    header = struct.pack("<2sIHHI", b"BM", 14 + len(info) + len(data), 0, 0, 14 + len(info))
    return header + info + data


def png(rows):
    """8-bit RGBA PNG."""
    height, width = len(rows), len(rows[0])
    raw = b"".join(b"\0" + b"".join(bytes(p if len(p) == 4 else tuple(p) + (255,)) for p in row)
                   for row in rows)

    def chunk(kind, body):
        return struct.pack(">I", len(body)) + kind + body + struct.pack(">I", zlib.crc32(kind + body))

    return (b"\x89PNG\r\n\x1a\n" + chunk(b"IHDR", struct.pack(">IIBBBBB", width, height, 8, 6, 0, 0, 0))
            + chunk(b"IDAT", zlib.compress(raw)) + chunk(b"IEND", b""))


def gif(rows, transparent=None):
    """GIF89a with a 256-colour table; pixels equal to `transparent` (an RGB
    triple) become the transparent colour."""
    height, width = len(rows), len(rows[0])
    palette = []
    for row in rows:
        for p in row:
            if tuple(p[:3]) not in palette:
                palette.append(tuple(p[:3]))
    if transparent is not None and tuple(transparent) not in palette:
        palette.append(tuple(transparent))
    if len(palette) > 256:
        raise ValueError("too many colours for a GIF")
    table = b"".join(bytes(c) for c in palette) + b"\0" * (3 * (256 - len(palette)))
    indices = [palette.index(tuple(p[:3])) for row in rows for p in row]

    # LZW of literals only, with a clear code before the code width would grow.
    clear, end = 256, 257
    codes = []
    for i, index in enumerate(indices):
        if i % 254 == 0:
            codes.append(clear)
        codes.append(index)
    codes.append(end)
    bits, nbits, packed = 0, 0, bytearray()
    for code in codes:
        bits |= code << nbits
        nbits += 9
        while nbits >= 8:
            packed.append(bits & 0xFF)
            bits >>= 8
            nbits -= 8
    if nbits:
        packed.append(bits & 0xFF)
    blocks = b"".join(bytes((len(packed[i:i + 255]),)) + bytes(packed[i:i + 255])
                      for i in range(0, len(packed), 255)) + b"\0"

    out = b"GIF89a" + struct.pack("<HHBBB", width, height, 0xF7, 0, 0) + table
    if transparent is not None:
        out += b"\x21\xF9\x04" + bytes((1, 0, 0, palette.index(tuple(transparent)))) + b"\0"
    out += b"\x2C" + struct.pack("<HHHHB", 0, 0, width, height, 0) + b"\x08" + blocks + b"\x3B"
    return out


def jpeg(rows):
    """Baseline JPEG, 4:4:4, that codes each 8x8 block by its mean colour
    (DC coefficients only): exact enough for flat areas aligned to 8 pixels."""
    height, width = len(rows), len(rows[0])
    if width % 8 or height % 8:
        raise ValueError("width and height must be multiples of 8")

    def ycc(p):
        r, g, b = p[:3]
        return (0.299 * r + 0.587 * g + 0.114 * b,
                -0.168736 * r - 0.331264 * g + 0.5 * b + 128,
                0.5 * r - 0.418688 * g - 0.081312 * b + 128)

    dc_bits = [0, 1, 5, 1, 1, 1, 1, 1, 1, 0, 0, 0, 0, 0, 0, 0]
    dc_values = list(range(12))
    # Codes in canonical order: length 2 for category 0, then 3 for 1..5, ...
    dc_codes, code, k = {}, 0, 0
    for length, count in enumerate(dc_bits, 1):
        for _ in range(count):
            dc_codes[dc_values[k]] = (code, length)
            code += 1
            k += 1
        code <<= 1
    eob = (0, 2)  # the AC table below: "00" end of block, "01" unused

    out_bits = []

    def put(value, length):
        for i in reversed(range(length)):
            out_bits.append((value >> i) & 1)

    previous = [0, 0, 0]
    for by in range(0, height, 8):
        for bx in range(0, width, 8):
            block = [ycc(rows[y][x]) for y in range(by, by + 8) for x in range(bx, bx + 8)]
            for c in range(3):
                mean = sum(v[c] for v in block) / 64.0
                dc = int(round(8 * (mean - 128)))
                diff = dc - previous[c]
                previous[c] = dc
                size = abs(diff).bit_length()
                put(*dc_codes[size])
                if size:
                    put(diff if diff > 0 else diff + (1 << size) - 1, size)
                put(*eob)
    while len(out_bits) % 8:
        out_bits.append(1)
    data = bytearray()
    for i in range(0, len(out_bits), 8):
        byte = int("".join(map(str, out_bits[i:i + 8])), 2)
        data.append(byte)
        if byte == 0xFF:
            data.append(0)

    def segment(marker, body):
        return struct.pack(">BBH", 0xFF, marker, len(body) + 2) + body

    return (b"\xFF\xD8"
            + segment(0xE0, b"JFIF\0\x01\x01\x01\x00\x60\x00\x60\x00\x00")
            + segment(0xDB, b"\x00" + b"\x01" * 64)
            + segment(0xC0, struct.pack(">BHHB", 8, height, width, 3) + b"\x01\x11\x00\x02\x11\x00\x03\x11\x00")
            + segment(0xC4, b"\x00" + bytes(dc_bits) + bytes(dc_values))
            + segment(0xC4, b"\x10" + bytes([0, 2] + [0] * 14) + b"\x00\x01")
            + segment(0xDA, b"\x03\x01\x00\x02\x00\x03\x00\x00\x3F\x00")
            + bytes(data) + b"\xFF\xD9")


def read_bmp(path):
    """(width, height, pixel(x, y) -> (r, g, b)) of a 24-bit bottom-up BMP."""
    with open(path, "rb") as f:
        data = f.read()
    offset = struct.unpack_from("<I", data, 10)[0]
    width, height = struct.unpack_from("<ii", data, 18)
    stride = (width * 3 + 3) & ~3

    def pixel(x, y):
        at = offset + (height - 1 - y) * stride + 3 * x
        return data[at + 2], data[at + 1], data[at]

    return width, height, pixel
