#include "teletext/renderer.h"

#include <algorithm>
#include <array>

namespace quillmark {

namespace {

constexpr Colour kBlack = 0xFF000000u;
constexpr Colour kWhite = 0xFFFFFFFFu;

// Colour codes 1..7 (alphanumeric) and 17..23 (mosaic) both index this by code & 7.
constexpr std::array<Colour, 8> kColours = {
    kBlack,
    0xFF0000FFu /*red*/,
    0xFF00FF00u /*green*/,
    0xFF00FFFFu /*yellow*/,
    0xFFFF0000u /*blue*/,
    0xFFFF00FFu /*magenta*/,
    0xFFFFFF00u /*cyan*/,
    kWhite,
};

// What one cell needs to be drawn, once the row's codes up to it have been applied.
struct Cell {
    Colour foreground;
    Colour background;
    std::uint8_t glyph;
    std::uint8_t characterSet;
    bool doubleHeight;
    bool lowerRowOfPair; // the double-height countdown was 1 when the cell was drawn
};

// Mosaic codes that hold graphics may repeat: 33..63 and 96..127, never space or 64..95.
constexpr bool isHeldMosaic(std::uint8_t code) {
    return (code >= 33 && code <= 63) || code >= 96;
}

// Walks one row of codes, applying control codes to the row state in order, and records every cell.
// The double-height countdown is screen state and runs across rows.
void layOutRow(std::span<const std::uint8_t> codes, int& countdown, std::array<Cell, kScreenColumns>& cells) {
    Colour foreground = kWhite;
    Colour background = kBlack;
    std::uint8_t characterSet = Alphanumeric;
    bool doubleHeight = false;
    bool hold = false;
    std::uint8_t held = 0;

    for (int column = 0; column < kScreenColumns; ++column) {
        std::uint8_t code = codes[static_cast<std::size_t>(column)];
        switch (code) {
        case AlphaRed:
        case AlphaGreen:
        case AlphaYellow:
        case AlphaBlue:
        case AlphaMagenta:
        case AlphaCyan:
        case AlphaWhite:
            characterSet = Alphanumeric;
            foreground = kColours[code & 7];
            break;
        case NormalHeight:
            doubleHeight = false;
            break;
        case DoubleHeight:
            doubleHeight = true;
            if (countdown == 0) countdown = 2;
            break;
        case MosaicRed:
        case MosaicGreen:
        case MosaicYellow:
        case MosaicBlue:
        case MosaicMagenta:
        case MosaicCyan:
        case MosaicWhite:
            if (characterSet == Alphanumeric) characterSet = ContiguousMosaic;
            foreground = kColours[code & 7];
            if (hold) code = held;
            break;
        case ContiguousGraphics:
            characterSet = ContiguousMosaic;
            break;
        case SeparatedGraphics:
            characterSet = SeparatedMosaic;
            break;
        case BlackBackground:
            background = kBlack;
            break;
        case NewBackground:
            background = foreground;
            break;
        case HoldGraphics:
            hold = true;
            break;
        case ReleaseGraphics:
            hold = false;
            break;
        default:
            break;
        }
        // Remembered whether hold is on or not, so that hold can start later in the row.
        if (characterSet != Alphanumeric && isHeldMosaic(code)) held = code;

        cells[static_cast<std::size_t>(column)] = Cell{
            foreground,
            background,
            static_cast<std::uint8_t>(code < 0x20 ? GlyphAtlas::kBlankGlyph : code - 0x20),
            characterSet,
            doubleHeight,
            countdown == 1,
        };
    }
}

// One pixel line of one cell: ink bits select the foreground, the rest is background.
template <int Width> void drawLine(Colour* out, std::uint16_t ink, Colour foreground, Colour background) {
    for (int x = 0; x < Width; ++x)
        out[x] = (ink >> (11 - x)) & 1u ? foreground : background;
}

template <int Resolution>
void drawRow(const GlyphAtlas& atlas, const std::array<Cell, kScreenColumns>& cells, Colour* rowStart,
             int width) {
    constexpr int kWidth = cellWidth(Resolution);
    constexpr int kHeight = cellHeight(Resolution);
    for (int y = 0; y < kHeight; ++y) {
        Colour* out = rowStart + static_cast<std::ptrdiff_t>(y) * width;
        for (const Cell& cell : cells) {
            std::uint16_t ink = 0;
            if (cell.doubleHeight) {
                // Each source row of the glyph's upper or lower half covers two cell rows.
                const int source = (cell.lowerRowOfPair ? kHeight / 2 : 0) + y / 2;
                ink = atlas.rowInk(cell.glyph, cell.characterSet, Resolution, source);
            } else if (!cell.lowerRowOfPair) {
                ink = atlas.rowInk(cell.glyph, cell.characterSet, Resolution, y);
            }
            drawLine<kWidth>(out, ink, cell.foreground, cell.background);
            out += kWidth;
        }
    }
}

} // namespace

std::optional<Picture> renderScreen(const GlyphAtlas& atlas, std::span<const std::uint8_t> screen,
                                    int resolution) {
    if (resolution != SmallGlyphs && resolution != LargeGlyphs) return std::nullopt;
    const int width = kScreenColumns * cellWidth(resolution);
    const int height = kScreenRows * cellHeight(resolution);
    // Every pixel is drawn below, so the block is not zeroed first.
    PixelBuffer buffer;
    if (!allocatePixelBuffer(buffer, width, height, false)) return std::nullopt;

    // Positions past the end of the block read as spaces; bit 7 never counts.
    std::array<std::uint8_t, kScreenBytes> codes;
    codes.fill(0x20);
    const std::size_t available = std::min(screen.size(), kScreenBytes);
    std::transform(screen.begin(), screen.begin() + static_cast<std::ptrdiff_t>(available), codes.begin(),
                   [](std::uint8_t byte) { return static_cast<std::uint8_t>(byte & 0x7F); });

    int countdown = 0;
    std::array<Cell, kScreenColumns> cells;
    for (int row = 0; row < kScreenRows; ++row) {
        if (countdown > 0) --countdown;
        layOutRow(std::span(codes).subspan(static_cast<std::size_t>(row) * kScreenColumns, kScreenColumns),
                  countdown, cells);
        Colour* rowStart =
            buffer.pixels.data() + static_cast<std::ptrdiff_t>(row) * cellHeight(resolution) * width;
        if (resolution == LargeGlyphs)
            drawRow<LargeGlyphs>(atlas, cells, rowStart, width);
        else
            drawRow<SmallGlyphs>(atlas, cells, rowStart, width);
    }
    return pixelBufferToPicture(std::move(buffer));
}

std::optional<Picture> renderScreen(std::span<const std::uint8_t> screen, int resolution) {
    return renderScreen(glyphAtlas(), screen, resolution);
}

} // namespace quillmark
