#!/usr/bin/env python3
"""Draws the desktop program's icons as PNG files into assets/icons/.

Every icon is drawn here from simple shapes, so the pictures have no other source. The five tool-bar and
menu icons are 16 x 16 and the program's own icon is 256 x 256, all RGBA with 8-bit alpha. Only the
standard library is used: shapes are rasterised with 4 x 4 supersampling and the PNG files are written
with zlib. Run it again after changing a drawing; the output is deterministic.

    python3 tools/make_icons.py [output folder]
"""

import math
import os
import struct
import sys
import zlib

SAMPLES = 4  # per axis, for the edge coverage of smooth shapes


class Canvas:
    def __init__(self, size):
        self.size = size
        self.pixels = [[(0, 0, 0, 0) for _ in range(size)] for _ in range(size)]

    def blend(self, x, y, colour, coverage=1.0):
        """Composites a colour over the pixel at (x, y) with the given coverage (source over)."""
        if coverage <= 0 or not (0 <= x < self.size and 0 <= y < self.size):
            return
        r, g, b, a = colour
        sa = a / 255 * min(coverage, 1.0)
        dr, dg, db, da = self.pixels[y][x]
        da /= 255
        oa = sa + da * (1 - sa)
        if oa <= 0:
            self.pixels[y][x] = (0, 0, 0, 0)
            return

        def mix(s, d):
            return round((s * sa + d * da * (1 - sa)) / oa)

        self.pixels[y][x] = (mix(r, dr), mix(g, dg), mix(b, db), round(oa * 255))

    def fill(self, inside, colour, box=None, smooth=True):
        """Paints every pixel whose area is (partly) inside; inside(x, y) tests a point in pixel units."""
        x0, y0, x1, y1 = box if box else (0, 0, self.size, self.size)
        x0, y0 = max(0, int(math.floor(x0))), max(0, int(math.floor(y0)))
        x1, y1 = min(self.size, int(math.ceil(x1))), min(self.size, int(math.ceil(y1)))
        for y in range(y0, y1):
            for x in range(x0, x1):
                if smooth:
                    hits = sum(
                        inside(x + (i + 0.5) / SAMPLES, y + (j + 0.5) / SAMPLES)
                        for i in range(SAMPLES)
                        for j in range(SAMPLES)
                    )
                    self.blend(x, y, colour, hits / (SAMPLES * SAMPLES))
                elif inside(x + 0.5, y + 0.5):
                    self.blend(x, y, colour)

    # Shapes, in pixel units of the canvas.

    def rect(self, x0, y0, x1, y1, colour, smooth=True):
        self.fill(lambda x, y: x0 <= x < x1 and y0 <= y < y1, colour, (x0, y0, x1, y1), smooth)

    def rounded_rect(self, x0, y0, x1, y1, radius, colour):
        def inside(x, y):
            if not (x0 <= x < x1 and y0 <= y < y1):
                return False
            cx = min(max(x, x0 + radius), x1 - radius)
            cy = min(max(y, y0 + radius), y1 - radius)
            return (x - cx) ** 2 + (y - cy) ** 2 <= radius * radius

        self.fill(inside, colour, (x0, y0, x1, y1))

    def polygon(self, points, colour, smooth=True):
        def inside(x, y):
            result = False
            j = len(points) - 1
            for i in range(len(points)):
                xi, yi = points[i]
                xj, yj = points[j]
                if (yi > y) != (yj > y) and x < (xj - xi) * (y - yi) / (yj - yi) + xi:
                    result = not result
                j = i
            return result

        xs = [p[0] for p in points]
        ys = [p[1] for p in points]
        self.fill(inside, colour, (min(xs), min(ys), max(xs) + 1, max(ys) + 1), smooth)

    def ellipse(self, cx, cy, rx, ry, colour, smooth=True, clip=None):
        def inside(x, y):
            if clip and not clip(x, y):
                return False
            return ((x - cx) / rx) ** 2 + ((y - cy) / ry) ** 2 <= 1

        self.fill(inside, colour, (cx - rx, cy - ry, cx + rx + 1, cy + ry + 1), smooth)

    def line(self, ax, ay, bx, by, width, colour):
        def inside(x, y):
            dx, dy = bx - ax, by - ay
            t = max(0.0, min(1.0, ((x - ax) * dx + (y - ay) * dy) / (dx * dx + dy * dy)))
            px, py = ax + t * dx, ay + t * dy
            return (x - px) ** 2 + (y - py) ** 2 <= (width / 2) ** 2

        pad = width
        self.fill(inside, colour, (min(ax, bx) - pad, min(ay, by) - pad, max(ax, bx) + pad, max(ay, by) + pad))


def write_png(path, canvas):
    raw = bytearray()
    for row in canvas.pixels:
        raw.append(0)  # filter None
        for pixel in row:
            raw.extend(pixel)

    def chunk(kind, data):
        body = kind + data
        return struct.pack(">I", len(data)) + body + struct.pack(">I", zlib.crc32(body) & 0xFFFFFFFF)

    header = struct.pack(">IIBBBBB", canvas.size, canvas.size, 8, 6, 0, 0, 0)
    with open(path, "wb") as out:
        out.write(b"\x89PNG\r\n\x1a\n")
        out.write(chunk(b"IHDR", header))
        out.write(chunk(b"IDAT", zlib.compress(bytes(raw), 9)))
        out.write(chunk(b"IEND", b""))


BLACK = (0, 0, 0, 255)
WHITE = (255, 255, 255, 255)
OUTLINE = (60, 60, 60, 255)


def arrow(canvas, tail, head, shaft, wing, colour, outline=None):
    """A straight arrow from tail to head with a triangular head `wing` long and wide."""
    (tx, ty), (hx, hy) = tail, head
    length = math.hypot(hx - tx, hy - ty)
    ux, uy = (hx - tx) / length, (hy - ty) / length
    nx, ny = -uy, ux
    bx, by = hx - ux * wing, hy - uy * wing
    tip = [(hx, hy), (bx + nx * wing * 0.75, by + ny * wing * 0.75), (bx - nx * wing * 0.75, by - ny * wing * 0.75)]
    if outline:
        canvas.line(tx, ty, bx, by, shaft + 1.2, outline)
        grown = [(x + (x - (hx + 2 * bx) / 3) * 0.25, y + (y - (hy + 2 * by) / 3) * 0.25) for x, y in tip]
        canvas.polygon(grown, outline)
    canvas.line(tx, ty, bx + ux * 0.5, by + uy * 0.5, shaft, colour)
    canvas.polygon(tip, colour)


def folder(canvas):
    """Picture 2: a yellow folder with a green arrow at its top right corner."""
    dark = (170, 120, 10, 255)
    back = (230, 180, 40, 255)
    front = (255, 214, 70, 255)
    canvas.polygon([(0.5, 3.5), (5.5, 3.5), (7, 5), (13.5, 5), (13.5, 14.5), (0.5, 14.5)], dark)
    canvas.polygon([(1.2, 4.2), (5.2, 4.2), (6.7, 5.7), (12.8, 5.7), (12.8, 13.8), (1.2, 13.8)], back)
    canvas.polygon([(0.5, 14.5), (2.5, 7.5), (15.5, 7.5), (13.5, 14.5)], dark)
    canvas.polygon([(1.4, 13.9), (3.1, 8.2), (14.6, 8.2), (12.9, 13.9)], front)
    arrow(canvas, (9.5, 6.5), (15.3, 0.7), 2.0, 4.2, (30, 160, 40, 255), (10, 80, 20, 255))


def floppy(canvas, body=(40, 90, 200, 255), edge=(15, 40, 110, 255)):
    """A blue floppy disk seen from the front: metal shutter at the top, white label below."""
    canvas.polygon([(0.5, 0.5), (13, 0.5), (15.5, 3), (15.5, 15.5), (0.5, 15.5)], edge)
    canvas.polygon([(1.3, 1.3), (12.7, 1.3), (14.7, 3.3), (14.7, 14.7), (1.3, 14.7)], body)
    canvas.rect(4, 1.3, 12, 6, (200, 205, 215, 255))
    canvas.rect(9, 2, 11, 5.2, (70, 75, 90, 255))
    canvas.rect(3, 8.5, 13, 14.7, WHITE)
    canvas.rect(4, 10, 12, 10.8, (150, 160, 190, 255))
    canvas.rect(4, 12, 12, 12.8, (150, 160, 190, 255))


def floppy_import(canvas):
    """Picture 3: a blue floppy disk with a light green arrow pointing down over its lower right part."""
    floppy(canvas)
    arrow(canvas, (11.5, 6), (11.5, 15.6), 2.4, 4.4, (140, 235, 120, 255), (20, 100, 30, 255))


def floppy_save(canvas):
    """Picture 4: a blue floppy disk with a yellow pencil lying diagonally across it."""
    floppy(canvas)
    # The pencil runs from its eraser at the top right to its point at the bottom left.
    ax, ay, bx, by = 14.6, 1.4, 4.2, 11.8
    canvas.line(ax, ay, bx, by, 4.6, (90, 60, 0, 255))
    canvas.line(ax, ay, bx, by, 3.0, (250, 210, 30, 255))
    canvas.line(ax - 0.5, ay + 0.5, ax - 1.6, ay + 1.6, 3.0, (230, 120, 140, 255))
    tip = [(1.4, 14.6), (3.1, 10.2), (5.8, 12.9)]
    canvas.polygon(tip, (240, 205, 150, 255))
    canvas.polygon([(1.4, 14.6), (2.2, 12.6), (3.4, 13.8)], (40, 40, 40, 255))


def fullscreen(canvas):
    """Picture 5: a small window with a blue title bar and four black arrows pointing out to its corners."""
    canvas.rect(4, 4, 12, 12, OUTLINE, smooth=False)
    canvas.rect(5, 5, 11, 11, WHITE, smooth=False)
    canvas.rect(5, 5, 11, 7, (40, 90, 210, 255), smooth=False)
    for corner_x, corner_y, dx, dy in ((0, 0, 1, 1), (16, 0, -1, 1), (0, 16, 1, -1), (16, 16, -1, -1)):
        # Each arrow: a head in the corner and a short shaft pointing back at the window.
        canvas.polygon([(corner_x, corner_y), (corner_x + 4.5 * dx, corner_y), (corner_x, corner_y + 4.5 * dy)], BLACK)
        canvas.line(corner_x + 2 * dx, corner_y + 2 * dy, corner_x + 4.2 * dx, corner_y + 4.2 * dy, 1.5, BLACK)


def rounding(canvas):
    """Picture 6: a disc cut along a dotted diagonal, its upper left half smooth and grey, its lower right
    half black with stair-stepped edges."""
    cx = cy = 8.0
    radius = 7.4
    # Upper left of the diagonal x + y = 16: smooth edge.
    canvas.ellipse(cx, cy, radius, radius, (150, 150, 150, 255), clip=lambda x, y: x + y < 15.5)
    # Lower right: whole pixels only, so the rim shows its steps.
    for y in range(16):
        for x in range(16):
            if x + y > 15 and (x + 0.5 - cx) ** 2 + (y + 0.5 - cy) ** 2 <= radius * radius:
                canvas.blend(x, y, BLACK)
    # The dotted cut: every other pixel of the diagonal, light and dark in turn.
    for x in range(16):
        y = 15 - x
        if (x + 0.5 - cx) ** 2 + (y + 0.5 - cy) ** 2 <= radius * radius:
            canvas.blend(x, y, WHITE if x % 2 == 0 else (60, 60, 60, 255))


# The teletext colours a page is drawn in.
RED = (255, 0, 0, 255)
GREEN = (0, 255, 0, 255)
YELLOW = (255, 255, 0, 255)
BLUE = (0, 0, 255, 255)
MAGENTA = (255, 0, 255, 255)
CYAN = (0, 255, 255, 255)


def program_icon(canvas):
    """The program's icon: a monitor that shows a colourful teletext page."""
    s = canvas.size / 256
    # Stand and foot.
    canvas.polygon([(108 * s, 200 * s), (148 * s, 200 * s), (158 * s, 232 * s), (98 * s, 232 * s)], (120, 115, 105, 255))
    canvas.rounded_rect(64 * s, 228 * s, 192 * s, 246 * s, 8 * s, (150, 145, 135, 255))
    # Case and bezel.
    canvas.rounded_rect(8 * s, 16 * s, 248 * s, 208 * s, 18 * s, (90, 85, 80, 255))
    canvas.rounded_rect(12 * s, 20 * s, 244 * s, 204 * s, 15 * s, (215, 208, 190, 255))
    canvas.ellipse(226 * s, 192 * s, 4 * s, 4 * s, (40, 200, 60, 255))
    # The screen: a teletext page of 20 columns by 14 rows of 10 x 11 cells.
    left, top, cw, ch = 28 * s, 34 * s, 10 * s, 11 * s
    canvas.rect(left - 4 * s, top - 4 * s, left + 204 * s, top + 158 * s, BLACK)

    def cells(column, row, count, colour, rows=1):
        canvas.rect(left + column * cw, top + row * ch, left + (column + count) * cw, top + (row + rows) * ch, colour)

    def text(column, row, pattern, colour):
        """A line of 'letters': each character of the pattern is one cell; '#' draws a small block glyph."""
        for i, c in enumerate(pattern):
            if c != " ":
                x = left + (column + i) * cw
                y = top + row * ch
                canvas.rect(x + 2 * s, y + 2 * s, x + 8 * s, y + 3.5 * s, colour)
                canvas.rect(x + 2 * s, y + 2 * s, x + 3.5 * s, y + 9 * s, colour)
                canvas.rect(x + 2 * s, y + 7.5 * s, x + 8 * s, y + 9 * s, colour)
                if c == "#":
                    canvas.rect(x + 6.5 * s, y + 2 * s, x + 8 * s, y + 9 * s, colour)

    # Header: page number and clock.
    text(0, 0, "P100", WHITE)
    text(6, 0, "# #  #", YELLOW)
    text(15, 0, "12:00", WHITE)
    # Title band: blue background with a double-height yellow title.
    cells(0, 1, 20, BLUE, rows=2)
    for i in range(8):
        x = left + (5 + i) * cw
        canvas.rect(x + 2 * s, top + 1 * ch + 3 * s, x + 8 * s, top + 3 * ch - 3 * s, YELLOW)
    # Mosaic blocks: a stripe of every colour, then a small contiguous-mosaic hill.
    for i, colour in enumerate((RED, GREEN, YELLOW, BLUE, MAGENTA, CYAN, WHITE)):
        cells(1 + i * 2.6, 4, 2.2, colour)
    hill = [0, 1, 2, 3, 4, 4, 5, 5, 4, 3, 3, 2, 3, 4, 5, 4, 3, 2, 1, 0]
    for column, height in enumerate(hill):
        for level in range(height):
            canvas.rect(
                left + column * cw + 1 * s,
                top + (11 - level) * ch * 0.5 + 6 * ch * 0.5 + 1 * s,
                left + (column + 1) * cw - 1 * s,
                top + (12 - level) * ch * 0.5 + 6 * ch * 0.5 - 0.5 * s,
                GREEN if level < 3 else CYAN,
            )
    # Text lines in several colours and a red footer band.
    text(1, 11, "## ### #####", CYAN)
    text(1, 12, "#### ## ###", WHITE)
    cells(0, 13, 20, RED)
    text(2, 13, "### ####", WHITE)


ICONS = {
    "import.png": (16, folder),
    "import-disk-image.png": (16, floppy_import),
    "save.png": (16, floppy_save),
    "fullscreen.png": (16, fullscreen),
    "rounding.png": (16, rounding),
    "quillmark.png": (256, program_icon),
}


def main():
    folder_name = sys.argv[1] if len(sys.argv) > 1 else os.path.join(os.path.dirname(__file__), "..", "assets", "icons")
    os.makedirs(folder_name, exist_ok=True)
    for name, (size, draw) in ICONS.items():
        canvas = Canvas(size)
        draw(canvas)
        write_png(os.path.join(folder_name, name), canvas)


if __name__ == "__main__":
    main()
