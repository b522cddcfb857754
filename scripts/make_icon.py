#!/usr/bin/env python3
"""Draws the program icon (a white download arrow on a blue tile) and writes src/res/app.ico:
48, 32, 24 and 16 px, each at 8 and 32 bits per pixel. Deterministic: same bytes every run."""
import struct
import sys

BLUE = (0x1E, 0x6F, 0xC8)
DARK = (0x12, 0x3E, 0x78)
WHITE = (0xFF, 0xFF, 0xFF)


def pixel(x, y, n):
    """Colour at (x, y) of an n-by-n icon, or None for transparent."""
    u, v = (x + 0.5) / n, (y + 0.5) / n
    r = 0.18
    cx = min(max(u, r), 1 - r)
    cy = min(max(v, r), 1 - r)
    if (u - cx) ** 2 + (v - cy) ** 2 > r * r:
        return None
    shaft = 0.42 <= u <= 0.58 and 0.16 <= v <= 0.56
    head = v >= 0.50 and v <= 0.80 and abs(u - 0.5) <= (0.80 - v) * 1.0
    if shaft or head:
        return WHITE
    if v > 0.84:
        return DARK
    return BLUE


def palette():
    colours = [BLUE, DARK, WHITE]
    return colours + [(0, 0, 0)] * (256 - len(colours))


def image(n, bpp):
    rows_xor, rows_and = [], []
    pal = palette()
    for y in reversed(range(n)):  # bottom-up rows
        xor = bytearray()
        mask_bits = []
        for x in range(n):
            c = pixel(x, y, n)
            mask_bits.append(1 if c is None else 0)
            if bpp == 32:
                xor += bytes((0, 0, 0, 0)) if c is None else bytes((c[2], c[1], c[0], 0xFF))
            else:
                xor.append(0 if c is None else pal.index(c))
        while len(xor) % 4:
            xor.append(0)
        mask = bytearray()
        for i in range(0, n, 8):
            byte = 0
            for bit, m in enumerate(mask_bits[i:i + 8]):
                byte |= m << (7 - bit)
            mask.append(byte)
        while len(mask) % 4:
            mask.append(0)
        rows_xor.append(bytes(xor))
        rows_and.append(bytes(mask))
    header = struct.pack('<IiiHHIIiiII', 40, n, 2 * n, 1, bpp, 0, 0, 0, 0,
                         256 if bpp == 8 else 0, 0)
    colours = b''
    if bpp == 8:
        colours = b''.join(bytes((b, g, r, 0)) for (r, g, b) in pal)
    return header + colours + b''.join(rows_xor) + b''.join(rows_and)


def main(out):
    entries = [(n, bpp) for n in (48, 32, 24, 16) for bpp in (8, 32)]
    images = [image(n, bpp) for n, bpp in entries]
    data = struct.pack('<HHH', 0, 1, len(entries))
    offset = 6 + 16 * len(entries)
    for (n, bpp), img in zip(entries, images):
        data += struct.pack('<BBBBHHII', n, n, 0, 0, 1, bpp, len(img), offset)
        offset += len(img)
    data += b''.join(images)
    with open(out, 'wb') as f:
        f.write(data)


if __name__ == '__main__':
    main(sys.argv[1] if len(sys.argv) > 1 else 'src/res/app.ico')
