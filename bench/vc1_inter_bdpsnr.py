#!/usr/bin/env python3
"""BD-PSNR and CPU table for bench/vc1_inter_bench.sh, plus an RD plot (PNG).

Input lines: SIZE LABEL SETTING KBPS PSNR_Y CPU_SECONDS FRAMES
BD-PSNR: cubic through the four (log10 rate, PSNR) points of each curve,
mean difference over the overlapping rate interval (positive = better
than wmv2). Pure Python (no numpy); the plot is drawn with a tiny
rasteriser and written with zlib.
"""
import math
import struct
import sys
import zlib
from collections import defaultdict


def solve(a, b):
    n = len(b)
    m = [row[:] + [b[i]] for i, row in enumerate(a)]
    for c in range(n):
        p = max(range(c, n), key=lambda r: abs(m[r][c]))
        m[c], m[p] = m[p], m[c]
        for r in range(n):
            if r != c:
                f = m[r][c] / m[c][c]
                for k in range(c, n + 1):
                    m[r][k] -= f * m[c][k]
    return [m[i][n] / m[i][i] for i in range(n)]


def cubic(points):
    # least squares cubic in x = log10(rate)
    xs = [math.log10(r) for r, _ in points]
    ys = [p for _, p in points]
    a = [[sum(x ** (i + j) for x in xs) for j in range(4)] for i in range(4)]
    b = [sum(y * x ** i for x, y in zip(xs, ys)) for i in range(4)]
    return solve(a, b), min(xs), max(xs)


def integral(c, lo, hi):
    f = lambda x: sum(c[i] * x ** (i + 1) / (i + 1) for i in range(4))
    return f(hi) - f(lo)


def bd_psnr(test, ref):
    ct, tlo, thi = cubic(test)
    cr, rlo, rhi = cubic(ref)
    lo, hi = max(tlo, rlo), min(thi, rhi)
    if hi <= lo:
        return None
    return (integral(ct, lo, hi) - integral(cr, lo, hi)) / (hi - lo)


FONT = {  # 3x5 glyphs, rows top to bottom
    '0': "111101101101111", '1': "010110010010111", '2': "111001111100111", '3': "111001111001111",
    '4': "101101111001001", '5': "111100111001111", '6': "111100111101111", '7': "111001001001001",
    '8': "111101111101111", '9': "111101111001111", 'w': "000101101111101", 'm': "000111111101101",
    'v': "000101101101010", 'c': "000111100100111", 'k': "100101110101101", 'b': "100111101101111",
    'p': "000111101111100", 's': "000111110011111", 'd': "001111101101111", 'B': "110101110101110",
    'x': "000101010101000", '-': "000000111000000", ' ': "000000000000000", '.': "000000000000010",
    'P': "111101111100100", 'S': "111100111001111", 'N': "101111111111101", 'R': "110101110101101",
    'Y': "101101010010010", 'r': "000111100100100", 'a': "000011101101011", 't': "010111010010011", 'e': "000111111100111",
}


class Canvas:
    def __init__(self, w, h):
        self.w, self.h = w, h
        self.px = bytearray([255] * (w * h * 3))

    def dot(self, x, y, col, size=1):
        for dy in range(size):
            for dx in range(size):
                xx, yy = int(x) + dx, int(y) + dy
                if 0 <= xx < self.w and 0 <= yy < self.h:
                    i = (yy * self.w + xx) * 3
                    self.px[i:i + 3] = bytes(col)

    def line(self, x0, y0, x1, y1, col, width=2):
        n = int(max(abs(x1 - x0), abs(y1 - y0))) + 1
        for i in range(n + 1):
            t = i / n
            self.dot(x0 + (x1 - x0) * t, y0 + (y1 - y0) * t, col, width)

    def text(self, x, y, s, col=(0, 0, 0), scale=2):
        for ch in s:
            g = FONT.get(ch, FONT[' '])
            for r in range(5):
                for c in range(3):
                    if g[r * 3 + c] == '1':
                        self.dot(x + c * scale, y + r * scale, col, scale)
            x += 4 * scale

    def png(self, path):
        raw = b''.join(b'\x00' + bytes(self.px[y * self.w * 3:(y + 1) * self.w * 3]) for y in range(self.h))
        def chunk(t, d):
            return struct.pack('>I', len(d)) + t + d + struct.pack('>I', zlib.crc32(t + d) & 0xffffffff)
        with open(path, 'wb') as f:
            f.write(b'\x89PNG\r\n\x1a\n' + chunk(b'IHDR', struct.pack('>IIBBBBB', self.w, self.h, 8, 2, 0, 0, 0)) +
                    chunk(b'IDAT', zlib.compress(raw, 9)) + chunk(b'IEND', b''))


COLORS = {'wmv2': (200, 30, 30), 'wmv9-c0': (30, 120, 220), 'wmv9-c1': (0, 170, 200), 'wmv9-c2': (120, 170, 0),
          'wmv9-c3': (20, 160, 60), 'wmv9-c4': (230, 140, 0), 'wmv9-c5': (120, 40, 170)}


def main():
    data = defaultdict(lambda: defaultdict(list))
    for line in open(sys.argv[1]):
        f = line.split()
        if len(f) < 7:
            continue
        size, label, _, kbps, psnr, cpu, frames = f[:7]
        data[size][label].append((float(kbps), float(psnr), float(cpu) / int(frames) * 1000.0))
    sizes = sorted(data, key=lambda s: int(s.split('x')[0]))
    print("| size | encoder | kbps (4 points) | PSNR-Y dB | CPU ms/frame | BD-PSNR vs wmv2 | CPU vs wmv2 |")
    print("|---|---|---|---|---|---|---|")
    canvas = Canvas(900, 420 * len(sizes))
    for si, size in enumerate(sizes):
        curves = data[size]
        ref = sorted((r, p) for r, p, _ in curves['wmv2'])
        ref_cpu = sum(c for _, _, c in curves['wmv2']) / max(1, len(curves['wmv2']))
        for label in ['wmv2'] + sorted(l for l in curves if l != 'wmv2'):
            pts = curves.get(label)
            if not pts:
                continue
            pts = sorted(pts)
            cpu = sum(c for _, _, c in pts) / len(pts)
            bd = '' if label == 'wmv2' else bd_psnr([(r, p) for r, p, _ in pts], ref)
            bd = '' if label == 'wmv2' else ('no overlap' if bd is None else '%+.2f dB' % bd)
            print('| %s | %s | %s | %s | %.1f | %s | %s |' % (
                size, label, ' '.join('%.0f' % r for r, _, _ in pts), ' '.join('%.2f' % p for _, p, _ in pts),
                cpu, bd, '' if label == 'wmv2' else '%.2fx' % (cpu / ref_cpu)))
        # Plot: x = log10 kbps, y = PSNR.
        allp = [(r, p) for l in curves.values() for r, p, _ in l]
        lx = [math.log10(r) for r, _ in allp]
        xmin, xmax = min(lx) - 0.05, max(lx) + 0.05
        ymin, ymax = math.floor(min(p for _, p in allp)) - 1, math.ceil(max(p for _, p in allp)) + 1
        ox, oy, pw, ph = 70, 420 * si + 30, 780, 340
        X = lambda r: ox + (math.log10(r) - xmin) / (xmax - xmin) * pw
        Y = lambda p: oy + ph - (p - ymin) / (ymax - ymin) * ph
        canvas.line(ox, oy + ph, ox + pw, oy + ph, (0, 0, 0), 1)
        canvas.line(ox, oy, ox, oy + ph, (0, 0, 0), 1)
        canvas.text(ox + 10, oy - 22, size + ' PSNR-Y dB vs kbps')
        for p in range(int(ymin), int(ymax) + 1):
            canvas.line(ox - 5, Y(p), ox, Y(p), (0, 0, 0), 1)
            if p % 2 == 0:
                canvas.text(ox - 40, Y(p) - 5, str(p))
        for r in [100, 200, 500, 1000, 2000, 5000, 10000, 20000]:
            if xmin <= math.log10(r) <= xmax:
                canvas.line(X(r), oy + ph, X(r), oy + ph + 5, (0, 0, 0), 1)
                canvas.text(X(r) - 10, oy + ph + 10, str(r))
        for li, (label, col) in enumerate(COLORS.items()):
            pts = sorted((r, p) for r, p, _ in curves.get(label, []))
            for a, b in zip(pts, pts[1:]):
                canvas.line(X(a[0]), Y(a[1]), X(b[0]), Y(b[1]), col)
            for r, p in pts:
                canvas.dot(X(r) - 3, Y(p) - 3, col, 7)
            canvas.dot(ox + pw - 170, oy + 20 + li * 20, col, 10)
            canvas.text(ox + pw - 150, oy + 20 + li * 20, label, col)
    canvas.png(sys.argv[2])


if __name__ == '__main__':
    main()
