#!/usr/bin/env python3
"""Draws the pictures the executable carries, byte for byte the same on every run.

    draw.py OUTDIR

writes banner.bmp (the window's picture), icon_30001.dib ... icon_30006.dib with
icon_group.bin (the program icon as RT_ICON / RT_GROUP_ICON data, so that the
images keep their resource numbers) and hand.cur (the link pointer).
"""
import math
import struct
import sys
from pathlib import Path

NAVY = (10, 12, 86)
SPIDER = (0, 0, 128)
WHITE = (255, 255, 255)


def bitmap_info(width, height, bits, colours=0, image_size=0):
    return struct.pack("<IiiHHIIiiII", 40, width, height, 1, bits, 0, image_size, 0, 0, colours, 0)


def row_bytes(width, bits):
    return ((width * bits + 31) // 32) * 4


# ---- banner ---------------------------------------------------------------

def thick_segment(px, x0, y0, x1, y1, r0, r1, colour, clip):
    """A stroke from (x0,y0) to (x1,y1) whose radius tapers from r0 to r1."""
    w, h = len(px[0]), len(px)
    dx, dy = x1 - x0, y1 - y0
    length2 = dx * dx + dy * dy
    for y in range(max(clip[0], int(min(y0, y1) - r0 - 1)), min(clip[1], int(max(y0, y1) + r0 + 1)) + 1):
        for x in range(max(0, int(min(x0, x1) - r0 - 1)), min(w - 1, int(max(x0, x1) + r0 + 1)) + 1):
            t = max(0.0, min(1.0, ((x - x0) * dx + (y - y0) * dy) / length2))
            cx, cy = x0 + t * dx, y0 + t * dy
            if (x - cx) ** 2 + (y - cy) ** 2 <= (r0 + (r1 - r0) * t) ** 2 and 0 <= y < h:
                px[y][x] = colour


def ellipse(px, cx, cy, rx, ry, colour, clip=(0, 10**6)):
    for y in range(max(clip[0], int(cy - ry)), min(clip[1], int(cy + ry)) + 1):
        for x in range(max(0, int(cx - rx)), min(len(px[0]) - 1, int(cx + rx)) + 1):
            if ((x - cx) / rx) ** 2 + ((y - cy) / ry) ** 2 <= 1.0:
                px[y][x] = colour


def spider(px, cx, cy, scale, colour, clip):
    """Body, head and eight jointed legs around (cx, cy)."""
    ellipse(px, cx - 14 * scale, cy + 22 * scale, 40 * scale, 52 * scale, colour, clip)
    ellipse(px, cx + 16 * scale, cy - 22 * scale, 22 * scale, 20 * scale, colour, clip)
    legs = [  # knee and foot, relative to the head, in units of scale
        ((40, -60), (18, -118)), ((62, -40), (80, -100)), ((72, -4), (104, -30)), ((70, 30), (98, 60)),
        ((-10, -70), (-44, -110)), ((-40, -48), (-80, -70)), ((52, 64), (60, 118)), ((20, 80), (6, 140)),
    ]
    hx, hy = cx + 16 * scale, cy - 22 * scale
    for (kx, ky), (fx, fy) in legs:
        knee = (hx + kx * scale, hy + ky * scale)
        foot = (hx + fx * scale, hy + fy * scale)
        thick_segment(px, hx, hy, *knee, 6 * scale, 4.5 * scale, colour, clip)
        thick_segment(px, *knee, *foot, 4.5 * scale, 1.6 * scale, colour, clip)


def banner():
    w, h = 160, 303
    px = [[NAVY] * w for _ in range(h)]
    spider(px, 40, 115, 1.0, SPIDER, (19, 230))
    # Emblem: a square with a 4-pixel white frame, a small white spider inside.
    for y in range(220, 281):
        for x in range(76, 137):
            inner = 80 <= x <= 132 and 224 <= y <= 276
            px[y][x] = NAVY if inner else WHITE
    spider(px, 105, 252, 0.2, WHITE, (226, 274))
    data = b"".join(bytes(c for p in px[y] for c in reversed(p)) for y in reversed(range(h)))
    assert len(data) == row_bytes(w, 24) * h == 145440
    header = struct.pack("<2sIHHI", b"BM", 54 + len(data), 0, 0, 54)
    return header + bitmap_info(w, h, 24, image_size=len(data)) + data


# ---- program icon -----------------------------------------------------------

def brush_x_coverage(n):
    """Coverage (0..1) of a red brush-stroke X at n x n pixels, 4 x 4 samples a pixel."""
    strokes = [((0.20, 0.14), (0.82, 0.86), 0.11, 0.065), ((0.80, 0.12), (0.20, 0.88), 0.095, 0.06)]
    cov = [[0.0] * n for _ in range(n)]
    for y in range(n):
        for x in range(n):
            hits = 0
            for sy in range(4):
                for sx in range(4):
                    u, v = (x + (sx + 0.5) / 4) / n, (y + (sy + 0.5) / 4) / n
                    for (x0, y0), (x1, y1), r0, r1 in strokes:
                        dx, dy = x1 - x0, y1 - y0
                        t = max(0.0, min(1.0, ((u - x0) * dx + (v - y0) * dy) / (dx * dx + dy * dy)))
                        # a slight wobble along the stroke reads as a brush edge
                        r = r0 + (r1 - r0) * t + 0.012 * math.sin(t * 19.0)
                        if (u - x0 - t * dx) ** 2 + (v - y0 - t * dy) ** 2 <= r * r:
                            hits += 1
                            break
            cov[y][x] = hits / 16
    return cov


def red(x, y, n):
    shade = (x * 7 + y * 13) % 40
    return (215 - shade, 18 + shade // 4, 24)


def and_mask(cov, n):
    stride = row_bytes(n, 1)
    out = bytearray()
    for y in reversed(range(n)):
        row = bytearray(stride)
        for x in range(n):
            if cov[y][x] < 0.5:
                row[x // 8] |= 0x80 >> (x % 8)
        out += row
    return bytes(out)


PALETTE = [(0, 0, 0)] + [(215 - i % 40, 18 + (i % 40) // 4, 24) for i in range(40)]
PALETTE += [(0, 0, 0)] * (256 - len(PALETTE))


def icon_8bit(n):
    cov = brush_x_coverage(n)
    pal = b"".join(bytes((b, g, r, 0)) for r, g, b in PALETTE)
    xor = bytearray()
    for y in reversed(range(n)):
        for x in range(n):
            xor.append(PALETTE.index(red(x, y, n)) if cov[y][x] >= 0.5 else 0)
        xor += bytes(row_bytes(n, 8) - n)
    mask = and_mask(cov, n)
    return bitmap_info(n, 2 * n, 8, 256, len(xor) + len(mask)) + pal + bytes(xor) + mask


def icon_32bit(n):
    cov = brush_x_coverage(n)
    xor = bytearray()
    for y in reversed(range(n)):
        for x in range(n):
            a = round(cov[y][x] * 255)
            r, g, b = red(x, y, n) if a else (0, 0, 0)
            xor += bytes((b, g, r, a))
    mask = and_mask(cov, n)
    return bitmap_info(n, 2 * n, 32, 0, len(xor) + len(mask)) + bytes(xor) + mask


ICONS = [(30001, 48, 8), (30002, 32, 8), (30003, 16, 8), (30004, 48, 32), (30005, 32, 32), (30006, 16, 32)]


def icon_group(images):
    out = struct.pack("<HHH", 0, 1, len(images))
    for (ident, n, bits), data in images:
        out += struct.pack("<BBBBHHIH", n, n, 0, 0, 1, bits, len(data), ident)
    return out


# ---- hand pointer -------------------------------------------------------------

HAND = """
.....BB..........
....BWWB.........
....BWWB.........
....BWWB.........
....BWWB.........
....BWWBBB.......
....BWWBWWBBB....
....BWWBWWBWWBB..
....BWWBWWBWWBWB.
BBB.BWWWWWWWWBWWB
BWWBBWWWWWWWWWWWB
BWWWBWWWWWWWWWWWB
.BWWWWWWWWWWWWWWB
..BWWWWWWWWWWWWWB
..BWWWWWWWWWWWWWB
...BWWWWWWWWWWWB.
...BWWWWWWWWWWWB.
....BWWWWWWWWWB..
....BWWWWWWWWWB..
.....BWWWWWWWB...
.....BWWWWWWWB...
.....BBBBBBBBB...
""".split()
HOT_SPOT = (5, 0)


def hand_cursor():
    n = 32
    art = [line.ljust(n, ".") for line in HAND] + ["." * n] * (n - len(HAND))
    xor, mask = bytearray(), bytearray()
    for y in reversed(range(n)):
        xrow, mrow = bytearray(4), bytearray(4)
        for x, c in enumerate(art[y]):
            if c == "W":
                xrow[x // 8] |= 0x80 >> (x % 8)
            elif c == ".":
                mrow[x // 8] |= 0x80 >> (x % 8)
        xor += xrow
        mask += mrow
    pal = bytes((0, 0, 0, 0, 255, 255, 255, 0))
    dib = bitmap_info(n, 2 * n, 1, 2, len(xor) + len(mask)) + pal + bytes(xor) + bytes(mask)
    head = struct.pack("<HHH", 0, 2, 1)
    entry = struct.pack("<BBBBHHII", n, n, 2, 0, HOT_SPOT[0], HOT_SPOT[1], len(dib), 6 + 16)
    return head + entry + dib


def main():
    out = Path(sys.argv[1])
    out.mkdir(parents=True, exist_ok=True)
    (out / "banner.bmp").write_bytes(banner())
    images = []
    for ident, n, bits in ICONS:
        data = icon_8bit(n) if bits == 8 else icon_32bit(n)
        (out / f"icon_{ident}.dib").write_bytes(data)
        images.append(((ident, n, bits), data))
    (out / "icon_group.bin").write_bytes(icon_group(images))
    (out / "hand.cur").write_bytes(hand_cursor())


if __name__ == "__main__":
    main()
