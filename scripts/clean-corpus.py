#!/usr/bin/env python3
"""Synthetic pictures for the cleaning identity check: grids, tables, pages of text, halftones,
dithers, barcodes, and smooth scenes with periodic noise, at 8 and 16 bits. Deterministic (fixed
seeds), plain Python (zlib PNG), so the same files come out on every machine.
Usage: clean-corpus.py OUT_DIR"""
import math
import os
import random
import struct
import sys
import zlib


def write_png(path, rows, cols, pixels, depth=8):
    """pixels(y, x) -> (r, g, b) in 0..1."""
    full = 255 if depth == 8 else 65535
    fmt = ">%dH" % (3 * cols) if depth == 16 else None
    raw = bytearray()
    for y in range(rows):
        raw.append(0)
        line = []
        for x in range(cols):
            for v in pixels(y, x):
                line.append(min(full, max(0, int(round(v * full)))))
        raw += bytes(line) if depth == 8 else struct.pack(fmt, *line)

    def chunk(kind, data):
        c = struct.pack(">I", len(data)) + kind + data
        return c + struct.pack(">I", zlib.crc32(kind + data) & 0xFFFFFFFF)

    with open(path, "wb") as f:
        f.write(b"\x89PNG\r\n\x1a\n")
        f.write(chunk(b"IHDR", struct.pack(">IIBBBBB", cols, rows, depth, 2, 0, 0, 0)))
        f.write(chunk(b"IDAT", zlib.compress(bytes(raw), 6)))
        f.write(chunk(b"IEND", b""))


def grey(v):
    return (v, v, v)


def scene(rng, rows, cols):
    """A smooth scene: a few soft blobs on a gradient, in colour."""
    blobs = [(rng.uniform(0, rows), rng.uniform(0, cols), rng.uniform(15, 60),
              [rng.uniform(-0.4, 0.4) for _ in range(3)]) for _ in range(6)]
    base = [rng.uniform(0.3, 0.6) for _ in range(3)]
    tilt = (rng.uniform(-0.2, 0.2) / rows, rng.uniform(-0.2, 0.2) / cols)
    grain = [rng.uniform(-0.01, 0.01) for _ in range(4096)]

    def at(y, x):
        out = []
        for c in range(3):
            v = base[c] + tilt[0] * y + tilt[1] * x + grain[(y * 131 + x * 17 + c * 7) % 4096]
            for by, bx, r, a in blobs:
                v += a[c] * math.exp(-((y - by) ** 2 + (x - bx) ** 2) / (2 * r * r))
            out.append(v)
        return out
    return at


def grids(out):
    for spacing in (4, 6, 8, 12, 16, 24):
        for width in (1, 2):
            if width * 2 >= spacing:
                continue
            write_png(f"{out}/grid-{spacing}-{width}.png", 200, 232,
                      lambda y, x: grey(0.1 if y % spacing < width or x % spacing < width else 0.95))
    for spacing in (10, 20):
        write_png(f"{out}/graph-paper-{spacing}.png", 256, 256,
                  lambda y, x: (0.7, 0.85, 0.95) if y % spacing == 0 or x % spacing == 0 else (1, 1, 1))


def tables(out):
    rng = random.Random(7)
    for n, (row_h, col_w) in enumerate(((18, 48), (22, 64), (16, 80), (24, 56), (20, 72))):
        cells = {(i, j): rng.random() for i in range(40) for j in range(20)}

        def at(y, x):
            if y % row_h == 0 or x % col_w == 0:
                return grey(0.2)
            i, j = y // row_h, x // col_w
            ink = 4 <= y % row_h < row_h - 5 and 6 <= x % col_w < 6 + int(cells[(i, j)] * (col_w - 12))
            return grey(0.15 if ink and (x // 3 + y // 2) % 3 else 1.0)
        write_png(f"{out}/table-{n}.png", 288, 320, at)


def text_pages(out):
    rng = random.Random(11)
    for n, (line_h, char_w) in enumerate(((12, 7), (16, 9), (20, 11), (14, 8), (24, 13))):
        glyphs = [[rng.random() < 0.45 for _ in range(char_w * line_h)] for _ in range(40)]
        chosen = [rng.randrange(40) for _ in range(4000)]
        margin = 16

        def at(y, x):
            if y < margin or x < margin or x > 300 - margin:
                return grey(1)
            row, cy = divmod(y - margin, line_h)
            col, cx = divmod(x - margin, char_w)
            if cy >= line_h * 3 // 4 or cx >= char_w - 2 or (col + row * 7) % 9 == 0:
                return grey(1)
            g = glyphs[chosen[(row * 61 + col) % 4000]]
            return grey(0.05 if g[cy * char_w + cx] else 1)
        write_png(f"{out}/text-{n}.png", 320, 300, at)


def halftones(out):
    rng = random.Random(13)
    for n, (period, angles) in enumerate(((4, (15, 75, 45)), (5, (0, 0, 0)), (6, (45, 45, 45)), (7, (15, 75, 0)),
                                          (4.5, (45, 45, 45)), (8, (0, 45, 90)))):
        base = scene(rng, 240, 240)
        rot = [(math.cos(math.radians(a)), math.sin(math.radians(a))) for a in angles]

        def at(y, x):
            v = base(y, x)
            out_v = []
            for c in range(3):
                ca, sa = rot[c]
                u, w = (ca * x + sa * y) / period, (-sa * x + ca * y) / period
                s = (math.cos(2 * math.pi * u) + math.cos(2 * math.pi * w)) / 4 + 0.5
                out_v.append(1.0 if min(1, max(0, v[c])) > s else 0.0)
            return out_v
        write_png(f"{out}/halftone-{n}.png", 240, 240, at)
        # the same print seen through a slight blur, as a scanner sees it
        img = [[at(y, x) for x in range(240)] for y in range(240)]

        def blurred(y, x):
            s = [0.0, 0.0, 0.0]
            for dy, wy in ((-1, 0.25), (0, 0.5), (1, 0.25)):
                for dx, wx in ((-1, 0.25), (0, 0.5), (1, 0.25)):
                    p = img[min(239, max(0, y + dy))][min(239, max(0, x + dx))]
                    for c in range(3):
                        s[c] += wy * wx * p[c]
            return s
        write_png(f"{out}/halftone-blur-{n}.png", 240, 240, blurred)


def dithers(out):
    rng = random.Random(17)
    bayer = [[0, 8, 2, 10], [12, 4, 14, 6], [3, 11, 1, 9], [15, 7, 13, 5]]
    for n in range(4):
        base = scene(rng, 200, 200)
        write_png(f"{out}/dither-bayer-{n}.png", 200, 200,
                  lambda y, x: [1.0 if min(1, max(0, v)) > (bayer[y % 4][x % 4] + 0.5) / 16 else 0.0 for v in base(y, x)])
        # error diffusion (Floyd and Steinberg), grey
        vals = [[sum(base(y, x)) / 3 for x in range(200)] for y in range(200)]
        for y in range(200):
            for x in range(200):
                old = vals[y][x]
                new = 1.0 if old > 0.5 else 0.0
                vals[y][x] = new
                e = old - new
                if x + 1 < 200:
                    vals[y][x + 1] += e * 7 / 16
                if y + 1 < 200:
                    if x > 0:
                        vals[y + 1][x - 1] += e * 3 / 16
                    vals[y + 1][x] += e * 5 / 16
                    if x + 1 < 200:
                        vals[y + 1][x + 1] += e / 16
        write_png(f"{out}/dither-fs-{n}.png", 200, 200, lambda y, x: grey(vals[y][x]))


def barcodes(out):
    rng = random.Random(19)
    for n in range(6):
        module = 1 + n % 3
        bars = [rng.random() < 0.5 for _ in range(400)]
        write_png(f"{out}/barcode-{n}.png", 120, 260,
                  lambda y, x: grey(1 if x < 20 or x >= 240 or y < 10 or y >= 100 or not bars[(x - 20) // module] else 0))
    for n, module in enumerate((2, 3, 4)):
        cells = [rng.random() < 0.5 for _ in range(10000)]
        side = 33 * module + 16
        write_png(f"{out}/qr-{n}.png", side, side,
                  lambda y, x: grey(0 if 8 <= y < side - 8 and 8 <= x < side - 8 and
                                    cells[((y - 8) // module) * 100 + (x - 8) // module] else 1))


def noisy_scenes(out):
    rng = random.Random(23)
    for n in range(16):
        depth = 16 if n % 2 else 8
        rows, cols = rng.choice(((192, 256), (256, 256), (240, 320), (301, 197)))
        base = scene(rng, rows, cols)
        kind = n % 4
        period, angle, amp = rng.uniform(3, 30), rng.uniform(0, math.pi), rng.uniform(0.01, 0.08)
        k, d = rng.randint(3, 8), rng.uniform(0.05, 0.15)
        ky, kx = 2 * math.pi * math.sin(angle) / period, 2 * math.pi * math.cos(angle) / period

        def at(y, x):
            v = base(y, x)
            if kind == 0:  # one wave
                return [c + amp * math.sin(kx * x + ky * y) for c in v]
            if kind == 1:  # scan lines
                return [c * (1 - d) if y % k == 0 else c for c in v]
            if kind == 2:  # two waves, one in the red only
                w = amp * math.sin(kx * x + ky * y)
                return [v[0] + w + 0.03 * math.sin(0.7 * x), v[1] + w, v[2] + w]
            return v  # clean
        write_png(f"{out}/scene-{n}-{depth}.png", rows, cols, at, depth)


def main():
    out = sys.argv[1]
    os.makedirs(out, exist_ok=True)
    for make in (grids, tables, text_pages, halftones, dithers, barcodes, noisy_scenes):
        make(out)


if __name__ == "__main__":
    main()
