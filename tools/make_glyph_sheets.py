#!/usr/bin/env python3
"""Makes the six glyph sheets in assets/glyphs/ from tools/small_glyphs.txt.

Only the small alphanumeric glyphs and a handful of fixed large rows are data; everything else follows
from rules: mosaic patterns from the bits of their codes, large glyphs by doubling the small ones and
smoothing their diagonal steps. Each sheet is a 4-bit palette BMP holding 96 cells (12 across, 8 down,
filled column by column) with a one-pixel magenta grid between them. Small sheets are RLE4-coded,
large sheets are stored uncompressed.

Run it from anywhere: python3 tools/make_glyph_sheets.py
"""

import pathlib
import struct
import sys

ROOT = pathlib.Path(__file__).resolve().parent.parent
TABLE = ROOT / "tools" / "small_glyphs.txt"
OUTPUT = ROOT / "assets" / "glyphs"

SMALL = (6, 10)
LARGE = (12, 20)
CELLS_ACROSS = 12
CELLS_DOWN = 8
FIRST_CODE = 0x20
GLYPHS = 96

GRID, PAPER, INK = 0, 1, 2
# Blue, green, red, reserved per entry: magenta, black, white, then black for the unused rest.
PALETTE = bytes([255, 0, 255, 0, 0, 0, 0, 0, 255, 255, 255, 0] + [0, 0, 0, 0] * 13)

# Mosaic blocks of the small cell as (code bit, columns, rows), bounds inclusive. A separated block is
# its contiguous block less the leftmost column and the bottom row.
CONTIGUOUS_BLOCKS = [
    (0x01, (0, 2), (0, 2)),
    (0x02, (3, 5), (0, 2)),
    (0x04, (0, 2), (3, 6)),
    (0x08, (3, 5), (3, 6)),
    (0x10, (0, 2), (7, 9)),
    (0x40, (3, 5), (7, 9)),
]
SEPARATED_BLOCKS = [(bit, (x0 + 1, x1), (y0, y1 - 1)) for bit, (x0, x1), (y0, y1) in CONTIGUOUS_BLOCKS]


def read_table(path):
    """Small glyph rows by code, and fixed large rows by code as {row: value}."""
    small, fixed = {}, {}
    for number, line in enumerate(path.read_text().splitlines(), 1):
        fields = line.split("#", 1)[0].split()
        if not fields:
            continue
        kind, code = fields[0], int(fields[1], 16)
        if kind == "glyph" and len(fields) == 12:
            small[code] = [int(value, 16) for value in fields[2:]]
        elif kind == "fixed" and len(fields) > 2:
            fixed[code] = {int(row): int(value, 16) for row, value in (pair.split(":") for pair in fields[2:])}
        else:
            sys.exit(f"{path}:{number}: cannot read this line")
    if sorted(small) != list(range(FIRST_CODE, FIRST_CODE + GLYPHS)):
        sys.exit(f"{path}: needs exactly one glyph for every code 0x20 to 0x7F")
    for code, rows in small.items():
        # Column 0 and row 0 stay paper in every glyph; a wider value is a typing error.
        if rows[0] != 0 or any(row > 0x1F for row in rows):
            sys.exit(f"{path}: glyph {code:#04x} has ink in column 0 or row 0")
    return small, fixed


def small_alphanumeric(rows):
    """A glyph as a list of pixel rows (lists of 0/1), from its hex rows."""
    return [[(row >> (5 - x)) & 1 for x in range(6)] for row in rows]


def mosaic(code, blocks):
    width, height = SMALL
    glyph = [[0] * width for _ in range(height)]
    for bit, (x0, x1), (y0, y1) in blocks:
        if code & bit:
            for y in range(y0, y1 + 1):
                for x in range(x0, x1 + 1):
                    glyph[y][x] = 1
    return glyph


def doubled(glyph):
    return [[pixel for pixel in row for _ in range(2)] for row in glyph for _ in range(2)]


def rounded(small, fixed_rows):
    """The large alphanumeric glyph: doubled, diagonal steps filled, then the fixed rows put in."""
    large = doubled(small)
    for r in range(len(small) - 1):
        for c in range(len(small[0]) - 1):
            top_left, top_right = small[r][c], small[r][c + 1]
            bottom_left, bottom_right = small[r + 1][c], small[r + 1][c + 1]
            falling = top_left and bottom_right and not top_right and not bottom_left
            rising = top_right and bottom_left and not top_left and not bottom_right
            if falling or rising:
                for y in (2 * r + 1, 2 * r + 2):
                    for x in (2 * c + 1, 2 * c + 2):
                        large[y][x] = 1
    for y, value in fixed_rows.items():
        large[y] = [(value >> (11 - x)) & 1 for x in range(12)]
    return large


def is_mosaic_code(code):
    return code < 0x40 or code >= 0x60


def sheets(small_rows, fixed):
    """The six sheets' glyph lists (96 glyphs each) by file name stem, in loading order."""
    small_alpha = [small_alphanumeric(small_rows[FIRST_CODE + g]) for g in range(GLYPHS)]
    large_alpha = [rounded(small_alpha[g], fixed.get(FIRST_CODE + g, {})) for g in range(GLYPHS)]

    def mosaic_sheet(blocks, large):
        glyphs = []
        for g in range(GLYPHS):
            code = FIRST_CODE + g
            if is_mosaic_code(code):
                pattern = mosaic(code, blocks)
                glyphs.append(doubled(pattern) if large else pattern)
            else:
                glyphs.append(large_alpha[g] if large else small_alpha[g])
        return glyphs

    return [
        ("alphanumeric-small", SMALL, small_alpha),
        ("contiguous-small", SMALL, mosaic_sheet(CONTIGUOUS_BLOCKS, False)),
        ("separated-small", SMALL, mosaic_sheet(SEPARATED_BLOCKS, False)),
        ("alphanumeric-large", LARGE, large_alpha),
        ("contiguous-large", LARGE, mosaic_sheet(CONTIGUOUS_BLOCKS, True)),
        ("separated-large", LARGE, mosaic_sheet(SEPARATED_BLOCKS, True)),
    ]


def layout(cell, glyphs):
    """The sheet as rows of palette indices, top row first."""
    w, h = cell
    width, height = CELLS_ACROSS * (w + 1) + 1, CELLS_DOWN * (h + 1) + 1
    pixels = [[GRID] * width for _ in range(height)]
    for g, glyph in enumerate(glyphs):
        col, row = divmod(g, CELLS_DOWN)
        left, top = 1 + col * (w + 1), 1 + row * (h + 1)
        for y in range(h):
            for x in range(w):
                pixels[top + y][left + x] = INK if glyph[y][x] else PAPER
    return pixels


def pack(indices):
    """Palette indices two to a byte, high nibble first; an odd count leaves the last low nibble 0."""
    padded = list(indices) + [0] * (len(indices) % 2)
    return bytes((padded[i] << 4) | padded[i + 1] for i in range(0, len(padded), 2))


def uncompressed(pixels):
    stride = (len(pixels[0]) * 4 + 31) // 32 * 4
    return b"".join(pack(row).ljust(stride, b"\0") for row in reversed(pixels))


def rle4_row(row):
    """One row as encoded runs (of 3 or more equal pixels) and absolute runs (of mixed pixels)."""
    out = bytearray()
    mixed = []

    def flush_mixed():
        while mixed:
            chunk = mixed[:255]
            del mixed[:255]
            if len(chunk) < 3:
                # Absolute runs need at least three pixels; one or two go as a short encoded run, whose
                # two nibbles alternate.
                out.extend((len(chunk), (chunk[0] << 4) | (chunk[-1] if len(chunk) == 2 else 0)))
            else:
                data = pack(chunk)
                out.extend((0, len(chunk)))
                out.extend(data)
                if len(data) % 2:
                    out.append(0)

    i = 0
    while i < len(row):
        end = i
        while end < len(row) and row[end] == row[i]:
            end += 1
        if end - i >= 3:
            flush_mixed()
            for start in range(i, end, 255):
                count = min(255, end - start)
                out.extend((count, (row[i] << 4) | row[i]))
        else:
            mixed.extend(row[i:end])
        i = end
    flush_mixed()
    return bytes(out)


def rle4(pixels):
    end_of_line, end_of_bitmap = b"\0\0", b"\0\1"
    return b"".join(rle4_row(row) + end_of_line for row in reversed(pixels)) + end_of_bitmap


def bmp(pixels, compressed):
    width, height = len(pixels[0]), len(pixels)
    data = rle4(pixels) if compressed else uncompressed(pixels)
    offset = 14 + 40 + len(PALETTE)
    file_header = b"BM" + struct.pack("<IHHI", offset + len(data), 0, 0, offset)
    info_header = struct.pack("<IiiHHIIiiII", 40, width, height, 1, 4, 2 if compressed else 0, len(data),
                              2835, 2835, 16, 0)
    return file_header + info_header + PALETTE + data


def main():
    small_rows, fixed = read_table(TABLE)
    OUTPUT.mkdir(parents=True, exist_ok=True)
    for stem, cell, glyphs in sheets(small_rows, fixed):
        path = OUTPUT / f"{stem}.bmp"
        path.write_bytes(bmp(layout(cell, glyphs), compressed=cell == SMALL))
        print(f"wrote {path.relative_to(ROOT)}")


if __name__ == "__main__":
    main()
