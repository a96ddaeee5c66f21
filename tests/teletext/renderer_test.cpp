#include "teletext/renderer.h"

#include <gtest/gtest.h>
#include <string>
#include <vector>

namespace quillmark {
namespace {

constexpr Colour kBlack = 0xFF000000u;
constexpr Colour kRed = 0xFF0000FFu;
constexpr Colour kGreen = 0xFF00FF00u;
constexpr Colour kYellow = 0xFF00FFFFu;
constexpr Colour kWhite = 0xFFFFFFFFu;

constexpr std::uint8_t kMosaicLeftColumn = 0x35; // blocks top left, middle left, bottom left

// A screen built row by row; unset rows are zero bytes, as in a freshly cleared screen buffer.
struct Screen {
    std::vector<std::uint8_t> bytes = std::vector<std::uint8_t>(kScreenBytes, 0);

    Screen& row(int r, std::initializer_list<int> codes) {
        std::size_t at = static_cast<std::size_t>(r) * kScreenColumns;
        for (int code : codes)
            bytes[at++] = static_cast<std::uint8_t>(code);
        return *this;
    }
    Screen& text(int r, int column, const std::string& text) {
        std::size_t at = static_cast<std::size_t>(r) * kScreenColumns + static_cast<std::size_t>(column);
        for (char c : text)
            bytes[at++] = static_cast<std::uint8_t>(c);
        return *this;
    }
};

Picture render(const std::vector<std::uint8_t>& bytes, int resolution = LargeGlyphs) {
    auto picture = renderScreen(bytes, resolution);
    EXPECT_TRUE(picture);
    return picture ? *picture : *Picture::create(1, 1);
}

enum class Height { Normal, UpperHalf, LowerHalf, Blank };

// Checks one cell against the atlas element by element; an independent path from the renderer's row masks.
::testing::AssertionResult cellShows(const Picture& picture, int row, int column, int resolution, int code,
                                     int characterSet, Colour ink, Colour paper,
                                     Height height = Height::Normal) {
    const int w = cellWidth(resolution), h = cellHeight(resolution);
    const GlyphAtlas& atlas = glyphAtlas();
    const int glyph = code < 0x20 ? GlyphAtlas::kBlankGlyph : code - 0x20;
    for (int y = 0; y < h; ++y) {
        for (int x = 0; x < w; ++x) {
            int sourceRow = y;
            if (height == Height::UpperHalf) sourceRow = y / 2;
            if (height == Height::LowerHalf) sourceRow = h / 2 + y / 2;
            const bool hasInk =
                height != Height::Blank && atlas.element(glyph, characterSet, resolution, x, sourceRow) != 0;
            const Colour expected = hasInk ? ink : paper;
            const Colour actual = picture.pixel(column * w + x, row * h + y);
            if (actual != expected)
                return ::testing::AssertionFailure()
                       << "cell (" << row << ", " << column << ") pixel (" << x << ", " << y << ") is "
                       << std::hex << actual << ", expected " << expected;
        }
    }
    return ::testing::AssertionSuccess();
}

bool samePixels(const Picture& a, const Picture& b) {
    if (a.width() != b.width() || a.height() != b.height()) return false;
    for (int y = 0; y < a.height(); ++y)
        for (int x = 0; x < a.width(); ++x)
            if (a.pixel(x, y) != b.pixel(x, y)) return false;
    return true;
}

TEST(Renderer, ZeroScreenIsAllBlackAtBothSizes) {
    for (int resolution : {SmallGlyphs, LargeGlyphs}) {
        const Picture picture = render(std::vector<std::uint8_t>(kScreenBufferBytes, 0), resolution);
        EXPECT_EQ(picture.width(), resolution == LargeGlyphs ? 480 : 240);
        EXPECT_EQ(picture.height(), resolution == LargeGlyphs ? 500 : 250);
        EXPECT_EQ(picture.depth(), 32);
        for (int y = 0; y < picture.height(); ++y)
            for (int x = 0; x < picture.width(); ++x)
                ASSERT_EQ(picture.pixel(x, y), kBlack);
    }
}

TEST(Renderer, OtherResolutionsGiveNoPicture) {
    const std::vector<std::uint8_t> screen(kScreenBytes, 'A');
    EXPECT_FALSE(renderScreen(screen, 2));
    EXPECT_FALSE(renderScreen(screen, -1));
}

TEST(Renderer, TextIsWhiteOnBlackAtRowStartAtBothSizes) {
    const auto screen = Screen{}.text(0, 0, "A!").text(24, 39, "z").bytes;
    for (int resolution : {SmallGlyphs, LargeGlyphs}) {
        const Picture picture = render(screen, resolution);
        EXPECT_TRUE(cellShows(picture, 0, 0, resolution, 'A', Alphanumeric, kWhite, kBlack));
        EXPECT_TRUE(cellShows(picture, 0, 1, resolution, '!', Alphanumeric, kWhite, kBlack));
        EXPECT_TRUE(cellShows(picture, 24, 39, resolution, 'z', Alphanumeric, kWhite, kBlack));
    }
}

TEST(Renderer, BitSevenIsIgnored) {
    auto plain = Screen{}.row(3, {DoubleHeight, 'Q', 'r'}).text(4, 1, "Qr").bytes;
    auto high = plain;
    for (auto& byte : high)
        byte = static_cast<std::uint8_t>(byte | 0x80);
    EXPECT_TRUE(samePixels(render(plain), render(high)));
    EXPECT_EQ(high[3 * 40], 0x8D) << "0x8D acts as double height";
}

TEST(Renderer, CellsPastAShortBlockAreSpacesInTheRowState) {
    const std::vector<std::uint8_t> block = {AlphaRed, NewBackground, 'H'};
    const Picture picture = render(block);
    EXPECT_TRUE(cellShows(picture, 0, 0, LargeGlyphs, AlphaRed, 0, kRed, kBlack));
    EXPECT_TRUE(cellShows(picture, 0, 2, LargeGlyphs, 'H', Alphanumeric, kRed, kRed));
    for (int column = 3; column < 40; ++column)
        EXPECT_TRUE(cellShows(picture, 0, column, LargeGlyphs, ' ', Alphanumeric, kRed, kRed));
    EXPECT_TRUE(cellShows(picture, 1, 0, LargeGlyphs, ' ', Alphanumeric, kWhite, kBlack))
        << "next row starts afresh";
}

TEST(Renderer, NewBackgroundAfterAColourHidesTextUntilAnotherColour) {
    const auto screen = Screen{}.row(0, {AlphaYellow, NewBackground, 'A', 'B', AlphaRed, 'C'}).bytes;
    const Picture picture = render(screen, SmallGlyphs);
    EXPECT_TRUE(cellShows(picture, 0, 0, SmallGlyphs, AlphaYellow, 0, kYellow, kBlack));
    EXPECT_TRUE(cellShows(picture, 0, 1, SmallGlyphs, NewBackground, 0, kYellow, kYellow));
    EXPECT_TRUE(cellShows(picture, 0, 2, SmallGlyphs, 'A', Alphanumeric, kYellow, kYellow));
    EXPECT_TRUE(cellShows(picture, 0, 5, SmallGlyphs, 'C', Alphanumeric, kRed, kYellow));
    EXPECT_TRUE(cellShows(picture, 0, 39, SmallGlyphs, 0, 0, kRed, kYellow));
}

TEST(Renderer, BlackBackgroundEndsANewBackground) {
    const auto screen = Screen{}.row(0, {AlphaGreen, NewBackground, 'x', BlackBackground, 'y'}).bytes;
    const Picture picture = render(screen);
    EXPECT_TRUE(cellShows(picture, 0, 2, LargeGlyphs, 'x', Alphanumeric, kGreen, kGreen));
    EXPECT_TRUE(cellShows(picture, 0, 3, LargeGlyphs, BlackBackground, 0, kGreen, kBlack));
    EXPECT_TRUE(cellShows(picture, 0, 4, LargeGlyphs, 'y', Alphanumeric, kGreen, kBlack));
}

TEST(Renderer, DoubleHeightTextOnBothRowsOfAPairIsShownOnce) {
    const auto screen = Screen{}.row(0, {DoubleHeight, 'A', 'g'}).row(1, {DoubleHeight, 'A', 'g'}).bytes;
    for (int resolution : {SmallGlyphs, LargeGlyphs}) {
        const Picture picture = render(screen, resolution);
        for (int column : {1, 2}) {
            const int code = column == 1 ? 'A' : 'g';
            EXPECT_TRUE(cellShows(picture, 0, column, resolution, code, Alphanumeric, kWhite, kBlack,
                                  Height::UpperHalf));
            EXPECT_TRUE(cellShows(picture, 1, column, resolution, code, Alphanumeric, kWhite, kBlack,
                                  Height::LowerHalf));
        }
    }
}

TEST(Renderer, NormalHeightCellsOnTheLowerRowShowOnlyBackground) {
    const auto screen = Screen{}
                            .row(0, {DoubleHeight, 'A'})
                            .row(1, {AlphaRed, NewBackground, 'B', NormalHeight, 'C'})
                            .text(2, 0, "D")
                            .bytes;
    const Picture picture = render(screen);
    EXPECT_TRUE(cellShows(picture, 1, 2, LargeGlyphs, 'B', Alphanumeric, kRed, kRed, Height::Blank));
    EXPECT_TRUE(cellShows(picture, 1, 4, LargeGlyphs, 'C', Alphanumeric, kRed, kRed, Height::Blank));
    EXPECT_TRUE(cellShows(picture, 2, 0, LargeGlyphs, 'D', Alphanumeric, kWhite, kBlack))
        << "the pair has ended";
}

TEST(Renderer, DoubleHeightOnTheLastRowDrawsUpperHalves) {
    const auto screen = Screen{}.row(24, {DoubleHeight, 'W'}).bytes;
    EXPECT_TRUE(
        cellShows(render(screen), 24, 1, LargeGlyphs, 'W', Alphanumeric, kWhite, kBlack, Height::UpperHalf));
}

TEST(Renderer, ThreeDoubleHeightRowsMakeAPairAndANewUpperRow) {
    const auto screen =
        Screen{}.row(0, {DoubleHeight, 'M'}).row(1, {DoubleHeight, 'M'}).row(2, {DoubleHeight, 'M'}).bytes;
    const Picture picture = render(screen, SmallGlyphs);
    EXPECT_TRUE(cellShows(picture, 0, 1, SmallGlyphs, 'M', Alphanumeric, kWhite, kBlack, Height::UpperHalf));
    EXPECT_TRUE(cellShows(picture, 1, 1, SmallGlyphs, 'M', Alphanumeric, kWhite, kBlack, Height::LowerHalf));
    EXPECT_TRUE(cellShows(picture, 2, 1, SmallGlyphs, 'M', Alphanumeric, kWhite, kBlack, Height::UpperHalf));
}

TEST(Renderer, TextBeforeDoubleHeightInTheUpperRowIsNormalHeight) {
    const auto screen = Screen{}.row(5, {'N', DoubleHeight, 'D'}).bytes;
    const Picture picture = render(screen);
    EXPECT_TRUE(cellShows(picture, 5, 0, LargeGlyphs, 'N', Alphanumeric, kWhite, kBlack));
    EXPECT_TRUE(cellShows(picture, 5, 2, LargeGlyphs, 'D', Alphanumeric, kWhite, kBlack, Height::UpperHalf));
}

TEST(Renderer, HoldBeforeAnyMosaicLeavesGraphicsColourCellsBlank) {
    const auto screen = Screen{}.row(0, {HoldGraphics, MosaicRed, MosaicGreen}).bytes;
    const Picture picture = render(screen);
    for (int column = 0; column < 3; ++column)
        EXPECT_TRUE(cellShows(picture, 0, column, LargeGlyphs, 0, 0, kWhite, kBlack));
}

TEST(Renderer, HeldMosaicShowsUnderGraphicsColour) {
    const auto screen = Screen{}.row(0, {MosaicRed, kMosaicLeftColumn, HoldGraphics, MosaicGreen}).bytes;
    for (int resolution : {SmallGlyphs, LargeGlyphs}) {
        const Picture picture = render(screen, resolution);
        EXPECT_TRUE(cellShows(picture, 0, 1, resolution, kMosaicLeftColumn, ContiguousMosaic, kRed, kBlack));
        EXPECT_TRUE(cellShows(picture, 0, 2, resolution, HoldGraphics, 0, kRed, kBlack))
            << "hold itself is blank";
        EXPECT_TRUE(
            cellShows(picture, 0, 3, resolution, kMosaicLeftColumn, ContiguousMosaic, kGreen, kBlack));
    }
}

TEST(Renderer, OnlyGraphicsColourCodesShowTheHeldMosaic) {
    const auto screen =
        Screen{}
            .row(0, {MosaicWhite, '#', HoldGraphics, ContiguousGraphics, BlackBackground, ReleaseGraphics,
                     MosaicCyan, HoldGraphics, SeparatedGraphics, MosaicYellow})
            .bytes;
    const Picture picture = render(screen);
    for (int column : {2, 3, 4, 5, 7, 8})
        EXPECT_TRUE(cellShows(picture, 0, column, LargeGlyphs, 0, 0, kWhite, kBlack)) << column;
    EXPECT_TRUE(cellShows(picture, 0, 6, LargeGlyphs, 0, 0, kWhite, kBlack)) << "hold released";
    EXPECT_TRUE(cellShows(picture, 0, 9, LargeGlyphs, '#', SeparatedMosaic, kYellow, kBlack))
        << "held character drawn in the set and colour in force after the code";
}

TEST(Renderer, HeldMosaicSurvivesTextAndIsForgottenAtRowStart) {
    const auto screen =
        Screen{}
            .row(0, {MosaicRed, kMosaicLeftColumn, AlphaWhite, 'A', HoldGraphics, MosaicGreen})
            .row(1, {HoldGraphics, MosaicGreen})
            .bytes;
    const Picture picture = render(screen);
    EXPECT_TRUE(cellShows(picture, 0, 5, LargeGlyphs, kMosaicLeftColumn, ContiguousMosaic, kGreen, kBlack));
    EXPECT_TRUE(cellShows(picture, 1, 1, LargeGlyphs, 0, 0, kGreen, kBlack));
}

TEST(Renderer, GraphicsModeSwitchesTextToMosaics) {
    const auto screen = Screen{}
                            .row(0, {'A', ContiguousGraphics, kMosaicLeftColumn, 'A'})
                            .row(1, {SeparatedGraphics, AlphaRed, MosaicGreen, kMosaicLeftColumn})
                            .row(2, {SeparatedGraphics, MosaicGreen, kMosaicLeftColumn, '_'})
                            .bytes;
    const Picture picture = render(screen);
    EXPECT_TRUE(cellShows(picture, 0, 2, LargeGlyphs, kMosaicLeftColumn, ContiguousMosaic, kWhite, kBlack));
    EXPECT_TRUE(cellShows(picture, 0, 3, LargeGlyphs, 'A', ContiguousMosaic, kWhite, kBlack));
    EXPECT_TRUE(cellShows(picture, 1, 3, LargeGlyphs, kMosaicLeftColumn, ContiguousMosaic, kGreen, kBlack))
        << "an alphanumeric colour drops the separated choice";
    EXPECT_TRUE(cellShows(picture, 2, 2, LargeGlyphs, kMosaicLeftColumn, SeparatedMosaic, kGreen, kBlack));
    EXPECT_TRUE(cellShows(picture, 2, 3, LargeGlyphs, '_', SeparatedMosaic, kGreen, kBlack));
}

TEST(Renderer, CodesWithoutAnEffectAreBlankCells) {
    const std::vector<int> inert = {NullCode, Flash,   Steady,         EndBox,  StartBox,
                                    ShiftOut, ShiftIn, DataLinkEscape, Conceal, EscapeCode};
    Screen screen;
    screen.row(0, {AlphaRed, NewBackground});
    for (std::size_t i = 0; i < inert.size(); ++i)
        screen.bytes[2 + i] = static_cast<std::uint8_t>(inert[i]);
    screen.text(0, 2 + static_cast<int>(inert.size()), "x");
    const Picture picture = render(screen.bytes);
    for (std::size_t i = 0; i < inert.size(); ++i)
        EXPECT_TRUE(cellShows(picture, 0, 2 + static_cast<int>(i), LargeGlyphs, 0, 0, kRed, kRed))
            << inert[i];
    EXPECT_TRUE(cellShows(picture, 0, 2 + static_cast<int>(inert.size()), LargeGlyphs, 'x', Alphanumeric,
                          kRed, kRed));
}

} // namespace
} // namespace quillmark
