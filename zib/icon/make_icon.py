#!/usr/bin/env python3
"""Draws the program's icon, a filter funnel over a moor at dusk, as a
32 x 32 icon of 256 colours, and writes it as an .ico file."""
import struct
import sys

SIZE = 32


def colour(x, y):
    """RGB of pixel (x, y), y = 0 at the top; None where transparent."""
    # Rounded square.
    r = 5
    cx = min(max(x, r), SIZE - 1 - r)
    cy = min(max(y, r), SIZE - 1 - r)
    if (x - cx) ** 2 + (y - cy) ** 2 > r * r:
        return None
    # Funnel: a wide top narrowing to a spout.
    top, neck, bottom = 6, 17, 26
    half = 12 - (y - top) * 9 // (neck - top) if top <= y <= neck else (3 if neck < y <= bottom else -1)
    if abs(x - 15.5) <= half + 0.5:
        return (250, 246, 232) if abs(x - 15.5) > half - 1.5 or y in (top, top + 1) else (214, 160, 64)
    # Sky above the moor line, heather below.
    if y < 20:
        t = y / 20
        return (int(40 + 80 * t), int(50 + 40 * t), int(110 - 30 * t))
    return (int(96 - (y - 20) * 4), int(56 - (y - 20) * 2), int(112 - (y - 20) * 4))


def main(path):
    pixels = [[colour(x, y) for x in range(SIZE)] for y in range(SIZE)]
    palette = []
    index = {}
    for row in pixels:
        for c in row:
            c = c or (0, 0, 0)
            if c not in index:
                index[c] = len(palette)
                palette.append(c)
    assert len(palette) <= 256
    palette += [(0, 0, 0)] * (256 - len(palette))

    header = struct.pack('<IiiHHIIiiII', 40, SIZE, SIZE * 2, 1, 8, 0, 0, 0, 0, 256, 0)
    colours = b''.join(struct.pack('<BBBB', b, g, r, 0) for (r, g, b) in palette)
    xor = b''.join(bytes(index[c or (0, 0, 0)] for c in pixels[y]) for y in reversed(range(SIZE)))
    mask = b''
    for y in reversed(range(SIZE)):
        bits = 0
        for x in range(SIZE):
            if pixels[y][x] is None:
                bits |= 1 << (31 - x)
        mask += struct.pack('>I', bits)
    image = header + colours + xor + mask
    directory = struct.pack('<HHH', 0, 1, 1) + struct.pack('<BBBBHHII', SIZE, SIZE, 0, 0, 1, 8, len(image), 22)
    with open(path, 'wb') as f:
        f.write(directory + image)


if __name__ == '__main__':
    main(sys.argv[1])
