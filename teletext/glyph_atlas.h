// The glyph atlas: every glyph pixel of the three character sets at both resolutions.
#pragma once

#include "pictures/picture.h"

#include <array>
#include <cstdint>
#include <memory>
#include <span>

namespace quillmark {

// Character sets and resolutions as the atlas and the renderer index them.
enum CharacterSet : int { Alphanumeric = 0, ContiguousMosaic = 1, SeparatedMosaic = 2 };
enum Resolution : int { SmallGlyphs = 0, LargeGlyphs = 1 };

// A table of glyph pixels indexed by (glyph, character set, resolution, x, y), glyph = code - 0x20.
// An element is 0x00FFFFFF where the glyph has ink and 0 where it has paper. Everything outside the
// filled ranges stays 0 for good: glyph 96 (the blank glyph of control codes), character set 3, and
// past the cell size of a resolution.
class GlyphAtlas {
public:
    static constexpr int kGlyphs = 97;
    static constexpr int kBlankGlyph = 96;
    static constexpr int kCharacterSets = 4;
    static constexpr int kResolutions = 2;
    static constexpr int kColumns = 13;
    static constexpr int kRows = 21;
    static constexpr std::size_t kElements =
        std::size_t{kGlyphs} * kCharacterSets * kResolutions * kColumns * kRows;

    // Every element zero.
    GlyphAtlas() = default;

    // Arguments must lie in the ranges above.
    std::uint32_t element(int glyph, int characterSet, int resolution, int x, int y) const {
        return elements_[position(glyph, characterSet, resolution, x, y)];
    }

    // The ink of one glyph row as bits, pixel x at bit (11 - x) for both resolutions. Kept beside the
    // elements so that the renderer draws a row without twelve look-ups.
    std::uint16_t rowInk(int glyph, int characterSet, int resolution, int y) const {
        return rowInk_[(static_cast<std::size_t>(glyph) * kCharacterSets + static_cast<std::size_t>(characterSet)) *
                           kResolutions * kRows +
                       static_cast<std::size_t>(resolution) * kRows + static_cast<std::size_t>(y)];
    }

    // Stores the 96 glyphs of one glyph sheet (cells 12 across by 8 down with a one-pixel grid, filled
    // column by column). The sheet is consumed. False, and nothing stored, when the set or resolution is out
    // of range or the sheet is too small for the grid.
    bool loadGlyphSheet(Picture sheet, int characterSet, int resolution);

    static constexpr std::size_t position(int glyph, int characterSet, int resolution, int x, int y) {
        return static_cast<std::size_t>(glyph) * 2184 + static_cast<std::size_t>(characterSet) * 546 +
               static_cast<std::size_t>(resolution) * 273 + static_cast<std::size_t>(x) * 21 +
               static_cast<std::size_t>(y);
    }

private:
    std::array<std::uint32_t, kElements> elements_{};
    std::array<std::uint16_t, std::size_t{kGlyphs} * kCharacterSets * kResolutions * kRows> rowInk_{};
};

// The six glyph sheets as complete BMP file images, in loading order: character sets 0, 1, 2 at
// resolution 0, then 0, 1, 2 at resolution 1.
std::array<std::span<const std::uint8_t>, 6> embeddedGlyphSheets();

// Decodes and loads the six sheets in order into a zeroed atlas; stops at the first sheet that cannot be
// decoded or loaded and returns false, leaving the earlier sheets loaded.
bool buildGlyphAtlas(GlyphAtlas& atlas, std::span<const std::span<const std::uint8_t>, 6> sheets);

// The program's one atlas, built from the embedded sheets on first use and read-only after that.
const GlyphAtlas& glyphAtlas();

} // namespace quillmark
