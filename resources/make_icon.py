#!/usr/bin/env python3
"""Draws ICON_1, the relay's 32 x 32 icon in the 16 standard colours, with a
transparent background: a radar scope (navy disc, aqua range rings, a lime
sweep) with a yellow aircraft, the link to a receiver. A name ending in .ico
gets a Windows icon file (one 32 x 32 image of 4 bits a pixel with its mask,
for the resource script); any other name a palette PNG.

    python3 resources/make_icon.py resources/icon_1.png resources/icon_1.ico
"""
import math
import struct
import sys
import zlib

SIZE = 32
# The 16 colours of a 16-colour icon; index 0 is drawn transparent.
PALETTE = [
    (0, 0, 0), (128, 0, 0), (0, 128, 0), (128, 128, 0), (0, 0, 128), (128, 0, 128),
    (0, 128, 128), (192, 192, 192), (128, 128, 128), (255, 0, 0), (0, 255, 0),
    (255, 255, 0), (0, 0, 255), (255, 0, 255), (0, 255, 255), (255, 255, 255),
]
TRANSPARENT, NAVY, TEAL, GRAY, LIME, YELLOW, AQUA, WHITE = 0, 4, 6, 8, 10, 11, 14, 15

# A small aircraft seen from above, nose up ('#' body, '+' wing tips).
AIRCRAFT = [
    "...+...",
    "..+#+..",
    "..+#+..",
    "++###++",
    "+#####+",
    "++.#.++",
    "..+#+..",
    ".+###+.",
    ".++.++.",
]


def draw():
    px = [[TRANSPARENT] * SIZE for _ in range(SIZE)]
    c = (SIZE - 1) / 2.0

    def ray(angle, colour, over):
        a = math.radians(angle)
        for step in range(0, 146):
            r = step / 10.0
            x, y = int(round(c + r * math.cos(a))), int(round(c + r * math.sin(a)))
            if px[y][x] in over:
                px[y][x] = colour

    for y in range(SIZE):
        for x in range(SIZE):
            d = math.hypot(x - c, y - c)
            if d <= 15.6:
                px[y][x] = GRAY if d > 14.6 else NAVY
    # The sweep towards the upper left, with its trail, under the range rings.
    for angle in range(200, 225, 3):
        ray(angle, TEAL, (NAVY,))
    for y in range(SIZE):
        for x in range(SIZE):
            d = math.hypot(x - c, y - c)
            if abs(d - 10.0) < 0.5 or abs(d - 5.0) < 0.5:
                px[y][x] = AQUA
    ray(225, LIME, (NAVY, TEAL, AQUA))
    px[int(c)][int(c)] = WHITE
    px[int(c) + 1][int(c) + 1] = WHITE
    # The aircraft near the outer ring, upper right.
    ox, oy = 19, 4
    for j, row in enumerate(AIRCRAFT):
        for i, ch in enumerate(row):
            if ch == "#":
                px[oy + j][ox + i] = YELLOW
            elif ch == "+":
                px[oy + j][ox + i] = YELLOW if j in (3, 4) else px[oy + j][ox + i]
    return px


def png(pixels):
    raw = b"".join(b"\x00" + bytes(row) for row in pixels)
    def chunk(kind, data):
        body = kind + data
        return struct.pack(">I", len(data)) + body + struct.pack(">I", zlib.crc32(body) & 0xFFFFFFFF)
    header = struct.pack(">IIBBBBB", SIZE, SIZE, 8, 3, 0, 0, 0)  # 8-bit indexed
    plte = b"".join(bytes(rgb) for rgb in PALETTE)
    trns = bytes([0])  # index 0 fully transparent, the rest opaque
    return (b"\x89PNG\r\n\x1a\n" + chunk(b"IHDR", header) + chunk(b"PLTE", plte) +
            chunk(b"tRNS", trns) + chunk(b"IDAT", zlib.compress(raw, 9)) + chunk(b"IEND", b""))


def ico(pixels):
    """An icon file holding one device-independent bitmap: the header, the 16
    colours, the colour bits (4 per pixel) and the mask (1 = transparent), both
    bottom row first, each row a multiple of 4 bytes."""
    colour = b"".join(
        bytes((row[x] << 4) | row[x + 1] for x in range(0, SIZE, 2)) for row in reversed(pixels))
    mask = b""
    for row in reversed(pixels):
        bits = 0
        for x, index in enumerate(row):
            if index == TRANSPARENT:
                bits |= 1 << (SIZE - 1 - x)
        mask += struct.pack(">I", bits)
    palette = b"".join(bytes((b, g, r, 0)) for r, g, b in PALETTE)
    # The height counts the colour bits and the mask.
    header = struct.pack("<IiiHHIIiiII", 40, SIZE, 2 * SIZE, 1, 4, 0, len(colour) + len(mask),
                         0, 0, 0, 0)
    image = header + palette + colour + mask
    directory = struct.pack("<HHH", 0, 1, 1)  # reserved, type 1 (icon), one image
    entry = struct.pack("<BBBBHHII", SIZE, SIZE, 16, 0, 1, 4, len(image), 6 + 16)
    return directory + entry + image


if __name__ == "__main__":
    pixels = draw()
    for out in sys.argv[1:] or ["icon_1.png"]:
        with open(out, "wb") as f:
            f.write(ico(pixels) if out.endswith(".ico") else png(pixels))
