#!/usr/bin/env python3
"""Draws the installer's icon (a monitor showing a night sky with a moon) into install.ico.
Run it again only to change the drawing; the build uses the committed install.ico."""
import struct

def draw(size):
    px = [[(0, 0, 0, 0)] * size for _ in range(size)]
    s = size / 32.0
    def rect(x0, y0, x1, y1, c):
        for y in range(int(y0 * s), int(y1 * s)):
            for x in range(int(x0 * s), int(x1 * s)):
                px[y][x] = c
    rect(2, 3, 30, 24, (60, 60, 70, 255))          # bezel
    for y in range(int(5 * s), int(22 * s)):       # screen: a deep blue gradient
        t = (y - 5 * s) / (17 * s)
        for x in range(int(4 * s), int(28 * s)):
            px[y][x] = (int(20 + 40 * t), int(30 + 60 * t), int(90 + 100 * t), 255)
    for (x, y) in [(7, 8), (12, 6), (18, 10), (24, 7), (9, 15), (21, 17), (15, 13)]:
        rect(x, y, x + 1.2, y + 1.2, (255, 255, 230, 255))   # stars
    cx, cy, r = 22 * s, 11 * s, 3.2 * s
    for y in range(size):
        for x in range(size):
            d = ((x + .5 - cx) ** 2 + (y + .5 - cy) ** 2) ** .5
            d2 = ((x + .5 - cx - 1.5 * s) ** 2 + (y + .5 - cy + 1 * s) ** 2) ** .5
            if d < r and d2 >= r * .9:
                px[y][x] = (250, 230, 150, 255)    # crescent moon
    rect(13, 24, 19, 27, (60, 60, 70, 255))        # stand
    rect(9, 27, 23, 29, (80, 80, 90, 255))         # foot
    return px

def dib(size):
    px = draw(size)
    header = struct.pack('<IiiHHIIiiII', 40, size, size * 2, 1, 32, 0, 0, 0, 0, 0, 0)
    rows = b''.join(bytes(b for (r, g, b_, a) in reversed_row for b in (b_, g, r, a))
                    for reversed_row in reversed(px))
    mask_row = ((size + 31) // 32) * 4
    return header + rows + b'\0' * (mask_row * size)

images = [dib(32), dib(16)]
out = struct.pack('<HHH', 0, 1, len(images))
offset = 6 + 16 * len(images)
for size, img in zip((32, 16), images):
    out += struct.pack('<BBBBHHII', size, size, 0, 0, 1, 32, len(img), offset)
    offset += len(img)
open('install.ico', 'wb').write(out + b''.join(images))
