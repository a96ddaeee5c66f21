// The Mode 7 renderer: a teletext screen of 25 rows by 40 codes into a picture.
#pragma once

#include "pictures/picture.h"
#include "teletext/glyph_atlas.h"

#include <cstdint>
#include <optional>
#include <span>

namespace quillmark {

inline constexpr int kScreenRows = 25;
inline constexpr int kScreenColumns = 40;
inline constexpr std::size_t kScreenBytes = 1000;      // the codes that are shown
inline constexpr std::size_t kScreenBufferBytes = 1024; // what an import may fill

// The teletext control codes (below 0x20) by the names the renderer acts on. Only the low 7 bits of a
// byte count; codes without an effect here (flash, boxes, conceal ...) show as blank cells.
enum ControlCode : std::uint8_t {
    NullCode = 0,
    AlphaRed = 1, AlphaGreen = 2, AlphaYellow = 3, AlphaBlue = 4, AlphaMagenta = 5, AlphaCyan = 6, AlphaWhite = 7,
    Flash = 8, Steady = 9, EndBox = 10, StartBox = 11,
    NormalHeight = 12, DoubleHeight = 13,
    ShiftOut = 14, ShiftIn = 15, DataLinkEscape = 16,
    MosaicRed = 17, MosaicGreen = 18, MosaicYellow = 19, MosaicBlue = 20, MosaicMagenta = 21, MosaicCyan = 22,
    MosaicWhite = 23,
    Conceal = 24, ContiguousGraphics = 25, SeparatedGraphics = 26, EscapeCode = 27,
    BlackBackground = 28, NewBackground = 29, HoldGraphics = 30, ReleaseGraphics = 31,
};

// Cell size in pixels at a resolution: 6 x 10 small, 12 x 20 large.
constexpr int cellWidth(int resolution) { return resolution == LargeGlyphs ? 12 : 6; }
constexpr int cellHeight(int resolution) { return resolution == LargeGlyphs ? 20 : 10; }

// Renders the first min(size, 1000) bytes of the screen (positions past the end read as spaces) into a new
// 32-bit opaque picture: 240 x 250 at resolution 0, 480 x 500 at resolution 1. No picture for any other
// resolution or when memory runs out. The first form draws from the program's glyph atlas.
std::optional<Picture> renderScreen(std::span<const std::uint8_t> screen, int resolution);
std::optional<Picture> renderScreen(const GlyphAtlas& atlas, std::span<const std::uint8_t> screen, int resolution);

} // namespace quillmark
