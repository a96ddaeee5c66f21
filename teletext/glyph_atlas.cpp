#include "teletext/glyph_atlas.h"

#include "pictures/bmp_reader.h"

#include <utility>

namespace quillmark {

namespace {

constexpr int kCellsAcross = 12;
constexpr int kCellsDown = 8;
constexpr std::uint32_t kColourMask = 0x00FFFFFF;

struct CellSize {
    int width;
    int height;
};

constexpr CellSize cellSize(int resolution) {
    return resolution == SmallGlyphs ? CellSize{6, 10} : CellSize{12, 20};
}

// Where rowInk() finds the ink of one glyph row; must match its arithmetic.
std::size_t inkPosition(int glyph, int characterSet, int resolution, int y) {
    return (static_cast<std::size_t>(glyph) * GlyphAtlas::kCharacterSets +
            static_cast<std::size_t>(characterSet)) *
               GlyphAtlas::kResolutions * GlyphAtlas::kRows +
           static_cast<std::size_t>(resolution) * GlyphAtlas::kRows + static_cast<std::size_t>(y);
}

} // namespace

bool GlyphAtlas::loadGlyphSheet(Picture sheet, int characterSet, int resolution) {
    if (characterSet < Alphanumeric || characterSet > SeparatedMosaic) return false;
    if (resolution != SmallGlyphs && resolution != LargeGlyphs) return false;

    PixelBuffer buffer;
    const bool converted = pictureToPixelBuffer(sheet, buffer);
    { const Picture consumed = std::move(sheet); }
    if (!converted) return false;

    // The cells are read where the grid puts them, so a sheet smaller than the grid would be read past its
    // end; refuse it before anything is stored.
    const CellSize cell = cellSize(resolution);
    if (buffer.width < kCellsAcross * (cell.width + 1) + 1 ||
        buffer.height < kCellsDown * (cell.height + 1) + 1)
        return false;

    const auto stride = static_cast<std::size_t>(buffer.width);
    int glyph = 0;
    for (int col = 0; col < kCellsAcross; ++col) {
        const int left = 1 + col * (cell.width + 1);
        for (int row = 0; row < kCellsDown; ++row, ++glyph) {
            const int top = 1 + row * (cell.height + 1);
            for (int y = 0; y < cell.height; ++y) {
                const Colour* pixels = buffer.pixels.data() + static_cast<std::size_t>(top + y) * stride +
                                       static_cast<std::size_t>(left);
                std::uint16_t ink = 0;
                for (int x = 0; x < cell.width; ++x) {
                    const std::uint32_t value = pixels[x] & kColourMask;
                    elements_[position(glyph, characterSet, resolution, x, y)] = value;
                    if (value != 0) ink = static_cast<std::uint16_t>(ink | (1u << (11 - x)));
                }
                rowInk_[inkPosition(glyph, characterSet, resolution, y)] = ink;
            }
        }
    }
    return true;
}

bool buildGlyphAtlas(GlyphAtlas& atlas, std::span<const std::span<const std::uint8_t>, 6> sheets) {
    constexpr int kSets = 3;
    for (int i = 0; i < 6; ++i) {
        auto sheet = readBmp(sheets[static_cast<std::size_t>(i)]);
        if (!sheet) return false;
        if (!atlas.loadGlyphSheet(std::move(*sheet), i % kSets, i / kSets)) return false;
    }
    return true;
}

const GlyphAtlas& glyphAtlas() {
    // Constant-initialised, so it lives in static storage and can't fail to allocate; a sheet that fails to
    // load leaves its glyphs blank rather than stopping the program.
    constinit static GlyphAtlas atlas;
    [[maybe_unused]] static const bool built = buildGlyphAtlas(atlas, embeddedGlyphSheets());
    return atlas;
}

} // namespace quillmark
