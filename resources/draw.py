#!/usr/bin/env python3
"""Draws the program's pictures and icon and writes them next to this script.

Uses only the Python standard library, with its own small baseline JPEG
encoder, so the output is the same bytes on every machine and every run.
Run it again after changing a picture and commit what it writes.
"""

import math
import os
import struct

HERE = os.path.dirname(os.path.abspath(__file__))

# ---------------------------------------------------------------- JPEG

ZIGZAG = [
    0, 1, 8, 16, 9, 2, 3, 10, 17, 24, 32, 25, 18, 11, 4, 5,
    12, 19, 26, 33, 40, 48, 41, 34, 27, 20, 13, 6, 7, 14, 21, 28,
    35, 42, 49, 56, 57, 50, 43, 36, 29, 22, 15, 23, 30, 37, 44, 51,
    58, 59, 52, 45, 38, 31, 39, 46, 53, 60, 61, 54, 47, 55, 62, 63,
]

LUMA_QUANT = [
    16, 11, 10, 16, 24, 40, 51, 61, 12, 12, 14, 19, 26, 58, 60, 55,
    14, 13, 16, 24, 40, 57, 69, 56, 14, 17, 22, 29, 51, 87, 80, 62,
    18, 22, 37, 56, 68, 109, 103, 77, 24, 35, 55, 64, 81, 104, 113, 92,
    49, 64, 78, 87, 103, 121, 120, 101, 72, 92, 95, 98, 112, 100, 103, 99,
]

CHROMA_QUANT = [
    17, 18, 24, 47, 99, 99, 99, 99, 18, 21, 26, 66, 99, 99, 99, 99,
    24, 26, 56, 99, 99, 99, 99, 99, 47, 66, 99, 99, 99, 99, 99, 99,
] + [99] * 32

DC_LUMA_BITS = [0, 1, 5, 1, 1, 1, 1, 1, 1, 0, 0, 0, 0, 0, 0, 0]
DC_CHROMA_BITS = [0, 3, 1, 1, 1, 1, 1, 1, 1, 1, 1, 0, 0, 0, 0, 0]
DC_VALUES = list(range(12))
AC_LUMA_BITS = [0, 2, 1, 3, 3, 2, 4, 3, 5, 5, 4, 4, 0, 0, 1, 0x7D]
AC_CHROMA_BITS = [0, 2, 1, 2, 4, 4, 3, 4, 7, 5, 4, 4, 0, 1, 2, 0x77]

# The usual AC tables list their most frequent symbols first and then every
# other run/size symbol in increasing order, so only the heads are written out.
AC_LUMA_HEAD = [
    0x01, 0x02, 0x03, 0x00, 0x04, 0x11, 0x05, 0x12, 0x21, 0x31, 0x41, 0x06,
    0x13, 0x51, 0x61, 0x07, 0x22, 0x71, 0x14, 0x32, 0x81, 0x91, 0xA1, 0x08,
    0x23, 0x42, 0xB1, 0xC1, 0x15, 0x52, 0xD1, 0xF0, 0x24, 0x33, 0x62, 0x72,
    0x82,
]
AC_CHROMA_HEAD = [
    0x00, 0x01, 0x02, 0x03, 0x11, 0x04, 0x05, 0x21, 0x31, 0x06, 0x12, 0x41,
    0x51, 0x07, 0x61, 0x71, 0x13, 0x22, 0x32, 0x81, 0x08, 0x14, 0x42, 0x91,
    0xA1, 0xB1, 0xC1, 0x09, 0x23, 0x33, 0x52, 0xF0, 0x15, 0x62, 0x72, 0xD1,
    0x0A, 0x16, 0x24, 0x34, 0xE1, 0x25, 0xF1,
]
AC_SYMBOLS = [0x00, 0xF0] + [(run << 4) | size for run in range(16) for size in range(1, 11)]


def ac_values(head, bits):
    values = head + sorted(set(AC_SYMBOLS) - set(head))
    assert len(values) == sum(bits) == len(AC_SYMBOLS)
    return values


def huffman_codes(bits, values):
    """Canonical codes: symbol -> (code, length)."""
    codes = {}
    code = 0
    k = 0
    for length in range(1, 17):
        for _ in range(bits[length - 1]):
            codes[values[k]] = (code, length)
            code += 1
            k += 1
        code <<= 1
    return codes


def scaled_quant(table, quality):
    scale = 5000 // quality if quality < 50 else 200 - 2 * quality
    return [min(255, max(1, (q * scale + 50) // 100)) for q in table]


# DCT basis rounded to a fixed precision so that libm differences in the last
# bit cannot change a quantised coefficient.
DCT = [[round((math.sqrt(0.5) if u == 0 else 1.0) * 0.5 * math.cos((2 * x + 1) * u * math.pi / 16), 12)
        for x in range(8)] for u in range(8)]


def fdct(block):
    rows = [[sum(DCT[u][x] * block[y * 8 + x] for x in range(8)) for u in range(8)] for y in range(8)]
    return [sum(DCT[v][y] * rows[y][u] for y in range(8)) for v in range(8) for u in range(8)]


class BitWriter:
    def __init__(self):
        self.out = bytearray()
        self.acc = 0
        self.count = 0

    def put(self, code, length):
        self.acc = (self.acc << length) | code
        self.count += length
        while self.count >= 8:
            self.count -= 8
            byte = (self.acc >> self.count) & 0xFF
            self.out.append(byte)
            if byte == 0xFF:
                self.out.append(0)
        self.acc &= (1 << self.count) - 1

    def flush(self):
        if self.count:
            self.put((1 << (8 - self.count)) - 1, 8 - self.count)


def magnitude(value):
    size = abs(value).bit_length()
    bits = value if value >= 0 else value + (1 << size) - 1
    return size, bits


def marker_segment(marker, payload):
    return struct.pack(">BBH", 0xFF, marker, len(payload) + 2) + payload


def encode_jpeg(width, height, pixel, quality=85):
    """Baseline JPEG, 4:4:4, of pixel(x, y) -> (r, g, b)."""
    quants = [scaled_quant(LUMA_QUANT, quality), scaled_quant(CHROMA_QUANT, quality)]
    luma_ac = ac_values(AC_LUMA_HEAD, AC_LUMA_BITS)
    chroma_ac = ac_values(AC_CHROMA_HEAD, AC_CHROMA_BITS)
    tables = [
        (huffman_codes(DC_LUMA_BITS, DC_VALUES), huffman_codes(AC_LUMA_BITS, luma_ac)),
        (huffman_codes(DC_CHROMA_BITS, DC_VALUES), huffman_codes(AC_CHROMA_BITS, chroma_ac)),
    ]

    planes = [[], [], []]
    for y in range(height):
        for plane in planes:
            plane.append([])
        for x in range(width):
            r, g, b = pixel(x, y)
            planes[0][y].append(0.299 * r + 0.587 * g + 0.114 * b - 128)
            planes[1][y].append(-0.168736 * r - 0.331264 * g + 0.5 * b)
            planes[2][y].append(0.5 * r - 0.418688 * g - 0.081312 * b)

    quantised = {}
    writer = BitWriter()
    previous_dc = [0, 0, 0]
    for by in range(0, height, 8):
        for bx in range(0, width, 8):
            for c in range(3):
                plane = planes[c]
                # Edge blocks repeat the last row and column.
                block = tuple(plane[min(by + j, height - 1)][min(bx + i, width - 1)]
                              for j in range(8) for i in range(8))
                table = 0 if c == 0 else 1
                key = (table, block)
                if key not in quantised:
                    coefficients = fdct(block)
                    quantised[key] = [int(math.floor(coefficients[z] / quants[table][z] + 0.5)) for z in ZIGZAG]
                zz = quantised[key]
                dc_codes, ac_codes = tables[table]
                size, bits = magnitude(zz[0] - previous_dc[c])
                previous_dc[c] = zz[0]
                writer.put(*dc_codes[size])
                writer.put(bits, size)
                run = 0
                for value in zz[1:]:
                    if value == 0:
                        run += 1
                        continue
                    while run > 15:
                        writer.put(*ac_codes[0xF0])
                        run -= 16
                    size, bits = magnitude(value)
                    writer.put(*ac_codes[(run << 4) | size])
                    writer.put(bits, size)
                    run = 0
                if run:
                    writer.put(*ac_codes[0x00])
    writer.flush()

    out = bytearray(b"\xFF\xD8")
    out += marker_segment(0xE0, b"JFIF\x00" + struct.pack(">BBBHHBB", 1, 1, 0, 1, 1, 0, 0))
    for index, quant in enumerate(quants):
        out += marker_segment(0xDB, bytes([index]) + bytes(quant[z] for z in ZIGZAG))
    out += marker_segment(0xC0, struct.pack(">BHHB", 8, height, width, 3)
                          + bytes([1, 0x11, 0, 2, 0x11, 1, 3, 0x11, 1]))
    for index, (bits, values) in enumerate([(DC_LUMA_BITS, DC_VALUES), (DC_CHROMA_BITS, DC_VALUES)]):
        out += marker_segment(0xC4, bytes([index]) + bytes(bits) + bytes(values))
    for index, (bits, values) in enumerate([(AC_LUMA_BITS, luma_ac), (AC_CHROMA_BITS, chroma_ac)]):
        out += marker_segment(0xC4, bytes([0x10 | index]) + bytes(bits) + bytes(values))
    out += marker_segment(0xDA, bytes([3, 1, 0x00, 2, 0x11, 3, 0x11, 0, 63, 0]))
    out += writer.out
    out += b"\xFF\xD9"
    return bytes(out)


# ---------------------------------------------------------- backgrounds

PAPER = (0xFC, 0xFC, 0xFC)


def hex_colour(text):
    return tuple(int(text[i:i + 2], 16) for i in (0, 2, 4))


def mix(a, b, t):
    return tuple(p + (q - p) * t for p, q in zip(a, b))


def gradient(stops, y):
    """Colour at row y, linear between (row, colour) stops."""
    if y <= stops[0][0]:
        return stops[0][1]
    for (y0, c0), (y1, c1) in zip(stops, stops[1:]):
        if y <= y1:
            t = (y - y0) / (y1 - y0)
            return mix(c0, c1, t)
    return stops[-1][1]


def lined_background(height, line_start, solid_from, stops):
    """Paper at the top, then thin lines that thicken into the gradient.

    Below line_start every third row is a line in the gradient colour a little
    further down; the rows between fade in until at solid_from they match it.
    """
    rows = []
    for y in range(height):
        base = gradient(stops, y)
        if y < line_start:
            colour = PAPER
        elif y < solid_from:
            t = (y - line_start) / (solid_from - line_start)
            if (y - line_start) % 3 == 0:
                # Lines come in faintly rather than starting with a hard edge.
                colour = mix(PAPER, gradient(stops, y + 24 * (1 - t)), min(1.0, 0.4 + 2 * t))
            else:
                colour = mix(PAPER, base, t * t)
        else:
            colour = base
        rows.append(tuple(max(0, min(255, round(v))) for v in colour))
    return lambda x, y: rows[y]


def welcome_picture():
    stops = [(90, PAPER), (216, hex_colour("8ABBCA")), (302, hex_colour("2F82A2"))]
    return encode_jpeg(600, 303, lined_background(303, 90, 190, stops))


def installer_picture():
    stops = [(22, PAPER), (85, hex_colour("D3E4EB")), (164, hex_colour("7CB5C9"))]
    return encode_jpeg(423, 165, lined_background(165, 22, 80, stops))


# ---------------------------------------------------------------- icons

# The standard Windows 16-colour palette.
PALETTE = [
    (0x00, 0x00, 0x00), (0x80, 0x00, 0x00), (0x00, 0x80, 0x00), (0x80, 0x80, 0x00),
    (0x00, 0x00, 0x80), (0x80, 0x00, 0x80), (0x00, 0x80, 0x80), (0xC0, 0xC0, 0xC0),
    (0x80, 0x80, 0x80), (0xFF, 0x00, 0x00), (0x00, 0xFF, 0x00), (0xFF, 0xFF, 0x00),
    (0x00, 0x00, 0xFF), (0xFF, 0x00, 0xFF), (0x00, 0xFF, 0xFF), (0xFF, 0xFF, 0xFF),
]
# Letters used in the pixel art below; '.' is transparent.
INK = {"K": 0, "N": 4, "T": 6, "S": 7, "G": 8, "Y": 11, "B": 12, "C": 14, "W": 15}

ICON_32 = """
..KKKKKKKKKKKKKKKKKK............
.KWWWWWWWWWWWWWWWWWSK...........
.KWSSSSSSSSSSSSSSSSGK.KKKKKKKKK.
.KWSGGGGGGGGGGGGGGSGK.KWWWWWWGK.
.KWSGBCCBBBBBBBBBWSGK.KWSSSSSGK.
.KWSGBCBBBBBBBBBBWSGK.KWGGGGWGK.
.KWSGBBBBBBBBBBBBWSGK.KWSSSSSGK.
.KWSGBBBBBBBBBBBBWSGK.KWGGGGWGK.
.KWSGBBBBBBBBBBBBWSGK.KWSSSSSGK.
.KWSGBBBBBBBBBBBBWSGK.KWSSSSSGK.
.KWSGBBBBBBBBBBBBWSGK.KWSSSSSGK.
.KWSGBBBBBBBBBBBBWSGK.KWSYSYSGK.
.KWSGWWWWWWWWWWWWWSGK.KWSSSSSGK.
.KWSSSSSSSSSSSSSSSSGK.KKKSSSSGK.
.KSGGGGGGGGGGGGGGGGGKKKWKSSSSGK.
..KKKKKKKKKKKKKKKKKKKWWWKSSSSGK.
...KKWWKKSSSSGK....KWWWWKSSSSGK.
.KKWWWWWKSSSSGK...KWWWWKSSSSSGK.
KWWWWWWWKKKKKKKKKKKWWKKKSSSSSGK.
.KWWWWKKGGGGGGGGGGKKSKWSSSSSSGK.
..KWKKGGGGGGGGGGKKSSNKWSSSSSSGK.
...KKKKKKKKKKKKKSSSSNKWSSSSSSGK.
...KWWWWWWWWWWWKSSNNNKWSSSSSSGK.
...KWWWWWWWWWWWKNNNNSKWSSSSSSGK.
...KBBBBBBBBBBBKNNSSSKWSSSSSSGK.
...KBBBBBBBBBBBKSSSSNKGGGGGGGGK.
...KWWWWWWWWWWWKSSNNNKKKKKKKKKK.
...KWWWWWWWWWWWKNNNNSK..........
...KBBBBBBBBBBBKNNSSKK..........
...KBBBBBBBBBBBKSSKK............
...KWWWWWWWWWWWKKK..............
...KKKKKKKKKKKKK................
"""

ICON_16 = """
..........KKKKKK
.KKKKKKKKKKWWWGK
KWWWWWWWWGKWSSGK
KWCCBBBBBGKWGGGK
KWCBBBBBBGKWSSGK
KWBBBBBBBGKWGGGK
KWBBBBBBBGKWSSGK
KWBBBBBBBGKWSSGK
KSGGGGGGGGKWSSGK
.KKKKKKKKKKWYSGK
.KGGGGGGKSKWSSGK
.KKKKKKKKNKWYSGK
.KBBBBBKSNKWSSGK
.KWWWWWKNSKGGGGK
.KBBBBBKSKKKKKKK
.KKKKKKKK.......
"""


def parse_art(art):
    """Palette indices by row, None where transparent."""
    rows = art.strip("\n").split("\n")
    assert all(len(row) == len(rows) for row in rows), "art must be square"
    return [[None if letter == "." else INK[letter] for letter in row] for row in rows]


def icon_image(pixels):
    """RT_ICON data: header with doubled height, palette, XOR and AND bitmaps."""
    size = len(pixels)
    xor_stride = (size * 4 + 31) // 32 * 4
    and_stride = (size + 31) // 32 * 4
    xor_bits = bytearray()
    and_bits = bytearray()
    for row in reversed(pixels):  # bitmaps are stored bottom-up
        line = bytearray(xor_stride)
        mask = bytearray(and_stride)
        for x, index in enumerate(row):
            if index is None:
                mask[x // 8] |= 0x80 >> (x % 8)
            else:
                line[x // 2] |= index << (4 if x % 2 == 0 else 0)
        xor_bits += line
        and_bits += mask
    header = struct.pack("<IiiHHIIiiII", 40, size, size * 2, 1, 4, 0,
                         len(xor_bits) + len(and_bits), 0, 0, 16, 0)
    palette = b"".join(struct.pack("<BBBB", b, g, r, 0) for r, g, b in PALETTE)
    return header + palette + bytes(xor_bits) + bytes(and_bits)


def icon_entry(size, data):
    return struct.pack("<BBBBHHI", size % 256, size % 256, 16, 0, 1, 4, len(data))


def icon_group(images):
    """RT_GROUP_ICON data: (size, data, resource id) for each image."""
    out = struct.pack("<HHH", 0, 1, len(images))
    for size, data, resource_id in images:
        out += icon_entry(size, data) + struct.pack("<H", resource_id)
    return out


def ico_file(images):
    out = struct.pack("<HHH", 0, 1, len(images))
    offset = len(out) + 16 * len(images)
    for size, data, _ in images:
        out += icon_entry(size, data) + struct.pack("<I", offset)
        offset += len(data)
    return out + b"".join(data for _, data, _ in images)


def write(name, data):
    with open(os.path.join(HERE, name), "wb") as f:
        f.write(data)


def main():
    icon32 = icon_image(parse_art(ICON_32))
    icon16 = icon_image(parse_art(ICON_16))
    images = [(32, icon32, 30001), (16, icon16, 30002)]
    write("icon32.bin", icon32)
    write("icon16.bin", icon16)
    write("icongroup.bin", icon_group(images))
    write("program.ico", ico_file(images))
    write("welcome.jpg", welcome_picture())
    write("installer.jpg", installer_picture())


if __name__ == "__main__":
    main()
