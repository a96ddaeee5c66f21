#!/usr/bin/env python3
"""Writes the sample Mode 7 screens in assets/samples/.

Each screen is 25 rows of 40 codes, 1000 bytes with no header. The screens are checked in; run this again
(python3 tools/make_samples.py) only after changing it.
"""

import math
import pathlib

ROWS = 25
COLUMNS = 40

# Teletext control codes, by the names the renderer gives them.
ALPHA_RED, ALPHA_GREEN, ALPHA_YELLOW, ALPHA_BLUE, ALPHA_MAGENTA, ALPHA_CYAN, ALPHA_WHITE = range(1, 8)
NORMAL_HEIGHT = 12
DOUBLE_HEIGHT = 13
MOSAIC_RED, MOSAIC_GREEN, MOSAIC_YELLOW, MOSAIC_BLUE, MOSAIC_MAGENTA, MOSAIC_CYAN, MOSAIC_WHITE = range(17, 24)
CONTIGUOUS_GRAPHICS = 25
SEPARATED_GRAPHICS = 26
BLACK_BACKGROUND = 28
NEW_BACKGROUND = 29
HOLD_GRAPHICS = 30
RELEASE_GRAPHICS = 31

ALPHA = {"red": ALPHA_RED, "green": ALPHA_GREEN, "yellow": ALPHA_YELLOW, "blue": ALPHA_BLUE,
         "magenta": ALPHA_MAGENTA, "cyan": ALPHA_CYAN, "white": ALPHA_WHITE}
MOSAIC = {name: code + MOSAIC_RED - ALPHA_RED for name, code in ALPHA.items()}

FULL_BLOCK = 0x7F


def sextants(top_left=0, top_right=0, middle_left=0, middle_right=0, bottom_left=0, bottom_right=0):
    """The mosaic code whose six blocks are the ones given as 1."""
    return (0x20 | top_left | top_right << 1 | middle_left << 2 | middle_right << 3 | bottom_left << 4
            | bottom_right << 6)


def mosaic_of_pattern(pattern):
    """Mosaic code for a pattern of six bits, bit 0 the top left block, bit 5 the bottom right."""
    return sextants(*((pattern >> bit) & 1 for bit in range(6)))


def row(*parts):
    """One row of codes from control codes (ints), text (str) and code lists, padded with spaces."""
    data = bytearray()

    def add(part):
        if isinstance(part, int):
            data.append(part)
        elif isinstance(part, str):
            data.extend(part.encode("ascii"))
        else:
            for item in part:
                add(item)

    add(parts)
    if len(data) > COLUMNS:
        raise ValueError(f"row of {len(data)} codes: {bytes(data)!r}")
    return bytes(data.ljust(COLUMNS, b" "))


def centred(text, width):
    left = (width - len(text)) // 2
    return " " * left + text + " " * (width - len(text) - left)


def with_bit7(data):
    """The same codes with the top bit set: a screen must render them unchanged."""
    return bytes(code | 0x80 for code in data)


def screen(rows):
    if len(rows) != ROWS:
        raise ValueError(f"{len(rows)} rows")
    return b"".join(rows)


def test_card():
    title = row(ALPHA_BLUE, NEW_BACKGROUND, ALPHA_YELLOW, DOUBLE_HEIGHT, centred("QUILLMARK  TEST CARD", 35))

    # Colour bars. Under hold graphics each colour code shows the block held from the bar before it, so the
    # bars meet without the blank cells that the codes would otherwise leave.
    bar_width = 5
    bars = [HOLD_GRAPHICS, MOSAIC_WHITE] + [FULL_BLOCK] * (bar_width - 1)
    for colour in ("yellow", "cyan", "green", "magenta", "red", "blue"):
        bars += [MOSAIC[colour]] + [FULL_BLOCK] * (bar_width - 1)
    bars += [RELEASE_GRAPHICS]
    bar_row = row(bars)

    names = ("red", "green", "yellow", "blue", "magenta", "cyan", "white")
    colour_names = [row([ALPHA[name], name.capitalize(), " "] for name in names[:4]),
                    row([ALPHA[name], name.capitalize(), " "] for name in names[4:])]

    ink_on = {"red": "white", "green": "blue", "yellow": "blue", "blue": "yellow", "magenta": "white",
              "cyan": "blue", "white": "red"}

    # Ten cells a colour: the colour code (still on the old background), the new background, the ink.
    def on_background(name):
        return [ALPHA[name], NEW_BACKGROUND, ALPHA[ink_on[name]], centred(name.capitalize(), 7)]

    backgrounds = [row(map(on_background, names[:4])),
                   row(map(on_background, names[4:]), BLACK_BACKGROUND, ALPHA_WHITE, centred("Black", 8))]

    # Every one of the 64 block patterns, contiguous on the left and separated on the right.
    labels = row(" ", ALPHA_GREEN, "Contiguous", " " * 8, ALPHA_YELLOW, "Separated")
    charts = []
    for line in range(4):
        patterns = [mosaic_of_pattern(line * 16 + column) for column in range(16)]
        charts.append(row(" ", MOSAIC_GREEN, patterns, " ", SEPARATED_GRAPHICS, MOSAIC_YELLOW, patterns))

    left_half = sextants(1, 0, 1, 0, 1, 0)
    double = row(ALPHA_MAGENTA, DOUBLE_HEIGHT, "Double height", MOSAIC_CYAN, FULL_BLOCK, left_half, NORMAL_HEIGHT,
                 ALPHA_WHITE, "and normal")
    footer = with_bit7(row(ALPHA_BLUE, NEW_BACKGROUND, ALPHA_WHITE, centred("Mode 7: 40 x 25 cells", 37)))

    blank = row()
    return screen([title, title, blank] + [bar_row] * 5 + [blank] + colour_names + [blank] + backgrounds
                  + [blank, labels] + charts + [blank, double, double, blank, footer])


def text_page():
    header = row(" P101 ", ALPHA_YELLOW, "QUILLMARK", ALPHA_WHITE, " 101 Sun 12 May ", ALPHA_YELLOW, "09:41")
    title = row(ALPHA_BLUE, NEW_BACKGROUND, ALPHA_YELLOW, DOUBLE_HEIGHT, centred("How a screen is made", 35))
    body = [
        row(ALPHA_WHITE, "A Mode 7 screen holds 25 rows of 40"),
        row(ALPHA_WHITE, "character codes: 1000 bytes, one for"),
        row(ALPHA_WHITE, "each cell, from the top left."),
        row(),
        row(ALPHA_CYAN, "Codes below 32", ALPHA_WHITE, "are controls. Each"),
        row(ALPHA_WHITE, "one changes the colour, height or set"),
        row(ALPHA_WHITE, "of the cells after it in its row, and"),
        row(ALPHA_WHITE, "takes a cell of its own, which shows"),
        row(ALPHA_WHITE, "as a space."),
        row(),
        row(ALPHA_GREEN, "Letters", ALPHA_WHITE, "and figures come from the"),
        row(ALPHA_WHITE, "alphanumeric set. The", ALPHA_YELLOW, "mosaic", ALPHA_WHITE, "sets"),
        row(ALPHA_WHITE, "draw cells of six blocks, joined or"),
        row(ALPHA_WHITE, "separated, for pictures and bars."),
        row(),
        row(ALPHA_MAGENTA, "Every row starts in white text on"),
        row(ALPHA_MAGENTA, "black, whatever the row above held."),
        row(),
        row(ALPHA_WHITE, "Prices: 12p a page, ", ALPHA_GREEN, "50% off today!"),
    ]
    footer = row(ALPHA_RED, "Index    ", ALPHA_GREEN, "Mosaics  ", ALPHA_YELLOW, "Colours  ", ALPHA_CYAN, "Help")
    rows = [header, title, title, row()] + body
    rows += [row()] * (ROWS - 1 - len(rows)) + [footer]
    return screen(rows)


# Colours as the mosaic code numbers them, and black.
BLACK = 0
RED, GREEN, YELLOW, BLUE, MAGENTA, CYAN, WHITE = range(1, 8)


def encode_picture_row(cells):
    """The codes that draw one row of 40 cells of 2 x 3 coloured blocks as closely as teletext can.

    cells[c][k] is the colour of block k (0 top left .. 5 bottom right) of cell c. Every row starts with white
    ink on black in the alphanumeric set; a control code takes a cell, which shows its background. A dynamic
    programme over (ink, background, mosaic) finds the codes with the fewest blocks wrong, then the fewest codes.
    """
    start = (WHITE, BLACK, False)
    best = {start: (0, 0, [])}
    for blocks in cells:
        following = {}

        def offer(state, cost, codes):
            if state not in following or (cost[0], cost[1]) < following[state][:2]:
                following[state] = (cost[0], cost[1], codes)

        for (ink, paper, mosaic), (wrong, used, codes) in best.items():
            blank = sum(colour != paper for colour in blocks)
            if mosaic:
                pattern = sum(1 << k for k, colour in enumerate(blocks) if colour == ink and colour != paper)
                miss = sum(colour != (ink if pattern >> k & 1 else paper) for k, colour in enumerate(blocks))
                offer((ink, paper, True), (wrong + miss, used), codes + [mosaic_of_pattern(pattern)])
            else:
                offer((ink, paper, False), (wrong + blank, used), codes + [0x20])
            for colour in range(RED, WHITE + 1):
                offer((colour, paper, True), (wrong + blank, used + 1), codes + [MOSAIC_RED + colour - 1])
            new_paper = sum(colour != ink for colour in blocks)
            offer((ink, ink, mosaic), (wrong + new_paper, used + 1), codes + [NEW_BACKGROUND])
            offer((ink, BLACK, mosaic), (wrong + sum(colour != BLACK for colour in blocks), used + 1),
                  codes + [BLACK_BACKGROUND])
        best = following
    return bytes(min(best.values(), key=lambda entry: entry[:2])[2])


def landscape():
    """A mosaic picture: sun, clouds, hills, a house and a pond, with a caption."""
    width, height = COLUMNS * 2, ROWS * 3

    def colour_at(x, y):
        if (x - 2) * (x - 77) > 0:
            return BLACK
        pond = ((x - 58) / 14) ** 2 + ((y - 62) / 4.5) ** 2
        if pond <= 1:
            return CYAN
        if 14 <= x <= 29 and 48 <= y <= 62:  # walls, a door and two windows, on whole cells
            if 22 <= x <= 23 and y >= 54:
                return RED
            if x in (18, 19, 26, 27) and 51 <= y <= 53:
                return YELLOW
            return WHITE
        if 39 <= y <= 47 and abs(x - 21.5) <= (y - 38) * 1.1:  # roof
            return RED
        if y >= 63 and abs(x - (23 - (y - 63) * 1.2)) < 1.5:  # path from the door
            return YELLOW
        if y >= 45 + 3 * math.sin((x - 4) / 7):  # hills
            return GREEN
        if (x - 62) ** 2 + ((y - 13) * 1.1) ** 2 <= 64:
            return YELLOW
        for cx, cy, rx, ry in ((18, 12, 11, 3.2), (30, 20, 8, 2.4), (12, 22, 6, 2)):
            if ((x - cx) / rx) ** 2 + ((y - cy) / ry) ** 2 <= 1:
                return WHITE
        return BLUE

    rows = []
    for r in range(ROWS - 1):
        cells = [[colour_at(2 * c + k % 2, 3 * r + k // 2) for k in range(6)] for c in range(COLUMNS)]
        rows.append(encode_picture_row(cells))
    rows.append(row(ALPHA_YELLOW, centred("A summer day in mosaics", 39)))
    return screen(rows)


def main():
    folder = pathlib.Path(__file__).resolve().parent.parent / "assets" / "samples"
    folder.mkdir(parents=True, exist_ok=True)
    for name, data in (("testcard.bin", test_card()), ("text.bin", text_page()), ("landscape.bin", landscape())):
        assert len(data) == ROWS * COLUMNS
        (folder / name).write_bytes(data)
        print(f"wrote {folder / name}")


if __name__ == "__main__":
    main()
